// A Conn object driven as a script engine drives it: made by the library's
// class object, every member called by name through IDispatch. Shared by the
// storm and thread tests, which make many requests from several threads.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "AutomationTestSupport.h"

class TScriptConn {
public:
  // A new object; Valid() is false when the library would not make one.
  TScriptConn();
  bool Valid() const { return static_cast<bool>(disp_); }

  // Property puts and gets; the HRESULT of a put, the text of a get ("" on failure).
  HRESULT Put(const wchar_t* name, const std::wstring& text);
  HRESULT Put(const wchar_t* name, LONG number);
  std::wstring Get(const wchar_t* name);

  // GetURL: the body text. A COM error from it (there should be none) lands in
  // *hr when given.
  std::wstring GetURL(HRESULT* hr = nullptr);
  // A method or property get whose result is not wanted (GetHREFs, say).
  HRESULT Call(const wchar_t* name);
  // A method of one text argument (AddExtraHeader, say).
  HRESULT Call(const wchar_t* name, const std::wstring& argument);
  // What a script does before a request whose failure it wants to tell apart
  // from an earlier one: BinaryData clears Error.
  void ClearError() { Call(L"BinaryData"); }
  // URL, then GetURL.
  std::wstring Fetch(const std::wstring& url, HRESULT* hr = nullptr);

private:
  HRESULT Invoke(const wchar_t* name, WORD flags, VARIANT* argument, VARIANT* result);

  TComPtr<IDispatch> disp_;
};
