// How IDispatch::Invoke hands back the result of a member it answers itself,
// the same way the type information's Invoke does for every other member.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "ComPtr.h"

// Hands a fresh value to the caller's result, or releases it when the caller
// wants none or the call failed. A failure reaches the caller as the type
// information's Invoke reports one: DISP_E_EXCEPTION with the failure's code,
// its error information moved into the exception record when the caller gave
// one, and left on the thread when not.
template <typename Store, typename Release>
HRESULT MoveResult(HRESULT hr, VARIANT* result, EXCEPINFO* exception, VARTYPE type, Store store, Release release)
{
  if (SUCCEEDED(hr) && result) {
    VariantClear(result);
    V_VT(result) = type;
    store(result);
    return hr;
  }
  release();
  if (SUCCEEDED(hr)) return hr;
  if (exception) {
    *exception = EXCEPINFO{};
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
      info->GetSource(&exception->bstrSource);
      info->GetDescription(&exception->bstrDescription);
      info->GetHelpFile(&exception->bstrHelpFile);
      info->GetHelpContext(&exception->dwHelpContext);
    }
    exception->scode = hr;
  }
  return DISP_E_EXCEPTION;
}
