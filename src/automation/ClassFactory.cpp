#include "ClassFactory.h"

#include <objbase.h>

#include "ComServer.h"
#include "ConnObject.h"

TConnFactory::TConnFactory(REFCLSID classId, TClassTypeInfo typeInfo, std::wstring progId)
    : classId_(classId), typeInfo_(std::move(typeInfo)),
      origin_{typeInfo_.ErrorInterface, std::move(progId)}
{
}

HRESULT STDMETHODCALLTYPE TConnFactory::QueryInterface(REFIID riid, void** ppv)
{
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TConnFactory::AddRef()
{
  return static_cast<ULONG>(InterlockedIncrement(&ComServer().FactoryRefCount));
}

ULONG STDMETHODCALLTYPE TConnFactory::Release()
{
  return static_cast<ULONG>(InterlockedDecrement(&ComServer().FactoryRefCount));
}

HRESULT STDMETHODCALLTYPE TConnFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object must hand its controller the inner IUnknown.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CreateConnObject(*this, outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE TConnFactory::LockServer(BOOL lock)
{
  const HRESULT hr = CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, TRUE);
  // A lock the caller was told failed will never be undone: counting it
  // would keep the library loaded for good.
  if (SUCCEEDED(hr)) CountObject(lock != FALSE);
  return hr;
}
