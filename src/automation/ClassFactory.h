// TConnFactory: the class object of Conn. It lives with the type library it
// was made from, until DllCanUnloadNow finds the library unused; its
// reference count only tells DllCanUnloadNow whether clients hold it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

#include "ClassTypeInfo.h"
#include "ComError.h"

class TConnFactory final : public IClassFactory {
public:
  TConnFactory(REFCLSID classId, TClassTypeInfo typeInfo, std::wstring progId);

  const CLSID& ClassId() const { return classId_; }
  const TClassTypeInfo& TypeInfo() const { return typeInfo_; }
  const std::wstring& ProgId() const { return origin_.Source; }
  const TErrorOrigin& ErrorOrigin() const { return origin_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
  CLSID classId_;
  TClassTypeInfo typeInfo_;
  TErrorOrigin origin_;
};
