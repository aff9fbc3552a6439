#include "ScriptConn.h"

TScriptConn::TScriptConn()
{
  TComPtr<IConn> conn = NewConn();
  if (conn) conn->QueryInterface(IID_IDispatch, disp_.ReceiveVoid());
}

HRESULT TScriptConn::Invoke(const wchar_t* name, WORD flags, VARIANT* argument, VARIANT* result)
{
  if (!disp_) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  hr = disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

HRESULT TScriptConn::Put(const wchar_t* name, const std::wstring& text)
{
  VARIANT value;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  HRESULT hr = Invoke(name, DISPATCH_PROPERTYPUT, &value, nullptr);
  VariantClear(&value);
  return hr;
}

HRESULT TScriptConn::Put(const wchar_t* name, LONG number)
{
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return Invoke(name, DISPATCH_PROPERTYPUT, &value, nullptr);
}

namespace {

std::wstring TextOf(VARIANT& value)
{
  std::wstring text;
  if (V_VT(&value) == VT_BSTR && V_BSTR(&value)) text.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  VariantClear(&value);
  return text;
}

}  // namespace

std::wstring TScriptConn::Get(const wchar_t* name)
{
  VARIANT result;
  VariantInit(&result);
  Invoke(name, DISPATCH_PROPERTYGET, nullptr, &result);
  return TextOf(result);
}

std::wstring TScriptConn::GetURL(HRESULT* hr)
{
  VARIANT result;
  VariantInit(&result);
  HRESULT outcome = Invoke(L"GetURL", DISPATCH_METHOD, nullptr, &result);
  if (hr) *hr = outcome;
  return TextOf(result);
}

HRESULT TScriptConn::Call(const wchar_t* name)
{
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = Invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, &result);
  VariantClear(&result);
  return hr;
}

HRESULT TScriptConn::Call(const wchar_t* name, const std::wstring& argument)
{
  VARIANT value;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocStringLen(argument.data(), static_cast<UINT>(argument.size()));
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = Invoke(name, DISPATCH_METHOD, &value, &result);
  VariantClear(&value);
  VariantClear(&result);
  return hr;
}

std::wstring TScriptConn::Fetch(const std::wstring& url, HRESULT* hr)
{
  HRESULT put = Put(L"URL", url);
  if (FAILED(put)) {
    if (hr) *hr = put;
    return std::wstring();
  }
  return GetURL(hr);
}
