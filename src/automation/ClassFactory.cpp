#include "ClassFactory.h"

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

ULONG STDMETHODCALLTYPE TConnFactory::AddRef() { return CountFactoryReference(true); }

ULONG STDMETHODCALLTYPE TConnFactory::Release() { return CountFactoryReference(false); }

HRESULT STDMETHODCALLTYPE TConnFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object must hand its controller the inner IUnknown.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CreateConnObject(*this, outer, riid, ppv);
}

// Counted here, not by COM: it works on any thread, whether or not the
// caller has initialised COM there. An unlock without a lock to undo is
// answered S_FALSE and changes nothing.
HRESULT STDMETHODCALLTYPE TConnFactory::LockServer(BOOL lock)
{
  return CountServerLock(lock != FALSE) ? S_OK : S_FALSE;
}
