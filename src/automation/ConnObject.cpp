#include "ConnObject.h"

#include <oleauto.h>
#include <ocidl.h>

#include <new>
#include <string>

#include "CallGuard.h"
#include "CharsetText.h"
#include "ClassFactory.h"
#include "ComError.h"
#include "ComServer.h"
#include "Conn.h"
#include "DispatchResult.h"
#include "KestrelTypeLib.h"
#include "TextBoundary.h"
#include "Variant.h"

namespace {

// Dispatch identifiers of the members that hand out the body or its links.
const DISPID DispIdGetURL = 1;
const DISPID DispIdGetHREFs = 25;
const DISPID DispIdBinaryData = 30;
const DISPID DispIdGetHREFNames = 31;

// The kind of call (DISPATCH_METHOD or DISPATCH_PROPERTYGET) that Invoke
// answers itself for id; 0 for members the type information answers.
WORD MovedResultKind(DISPID id)
{
  if (id == DispIdGetURL || id == DispIdGetHREFs) return DISPATCH_METHOD;
  if (id == DispIdBinaryData || id == DispIdGetHREFNames) return DISPATCH_PROPERTYGET;
  return 0;
}

// Out parameters are cleared before any work, so a failed call never leaves
// a stale value; they receive the result only when the member succeeded.
void ClearOut(BSTR* out) { *out = nullptr; }
void ClearOut(VARIANT_BOOL* out) { *out = VARIANT_FALSE; }
void ClearOut(LONG* out) { *out = 0; }
void ClearOut(VARIANT* out) { VariantInit(out); }

void StoreOut(BSTR* out, std::string_view value) { *out = AnsiToBstr(value); }
void StoreOut(BSTR* out, const TResponseText& text) { *out = DecodeToBstr(text.Bytes, text.Charset); }

// A text that keeps every character below the boundary (TConn's UTF-8 texts).
struct TUtf8Text {
  std::string Text;
};
void StoreOut(BSTR* out, const TUtf8Text& value) { *out = Utf8ToBstr(value.Text); }
void StoreOut(VARIANT_BOOL* out, bool value) { *out = value ? VARIANT_TRUE : VARIANT_FALSE; }
void StoreOut(LONG* out, int value) { *out = value; }
void StoreOut(VARIANT* out, TVariant value) { value.MoveTo(out); }

// Keeps the library loaded while the object lives, whether its construction
// completes or not.
class TObjectCount {
public:
  TObjectCount() { CountObject(true); }
  ~TObjectCount() { CountObject(false); }
  TObjectCount(const TObjectCount&) = delete;
  TObjectCount& operator=(const TObjectCount&) = delete;
};

class TConnObject final : public IConn2, public ISupportErrorInfo, public IProvideClassInfo {
public:
  TConnObject(TConnFactory& factory, IUnknown* outer)
      : factory_(factory), controller_(outer ? outer : &inner_)
  {
    inner_.self = this;
  }

  IUnknown* Inner() { return &inner_; }

  // IUnknown: delegated to the controlling object (the outer one when aggregated).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
  {
    return controller_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controller_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controller_->Release(); }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override
  {
    return Implements(riid) ? S_OK : S_FALSE;
  }

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override
  {
    if (!info) return E_POINTER;
    *info = factory_.TypeInfo().ClassInfo.Copy();
    return S_OK;
  }

  // IDispatch, answered from the type information of IConn2, which holds
  // IConn's members too.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
  {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
  {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = factory_.TypeInfo().InterfaceInfo.Copy();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override
  {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    // Scripts ask for a member's id before nearly every call; named
    // arguments and names the table cannot answer go to the type information.
    if (count == 1 && names && ids && factory_.TypeInfo().Members.Find(names[0], ids[0])) return S_OK;
    return DispGetIDsOfNames(factory_.TypeInfo().InterfaceInfo.Get(), names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override
  {
    if (!IsEqualIID(riid, IID_NULL)) return Refuse(DISP_E_UNKNOWNINTERFACE);
    // Some callers pass no parameter block for a call without arguments. The
    // members answered below accept that; the type information's Invoke
    // would refuse it, so the rest get an empty block.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    // The body can be tens of megabytes and a link list tens of thousands of
    // texts, and the type information's Invoke copies a returned value once
    // more on its way out: the members that hand them out are answered here,
    // their result moved, not copied. Each answers only to the kind of call
    // the type information gives it (a method is not run by reading it as a
    // property); other kinds go there to be refused.
    const bool noArguments = params->cArgs == 0 && params->cNamedArgs == 0;
    if (noArguments && (flags & MovedResultKind(id))) {
      if (id == DispIdGetURL) {
        // A call made as a statement wants no result: it fetches for
        // BinaryData, SaveFileTo or the links, and converting the body to
        // text would cost twice its size in fresh memory for nothing.
        if (!result) return Fetch();
        BSTR text = nullptr;
        const HRESULT hr = GetURL(&text);
        return MoveResult(hr, result, exception, VT_BSTR, [&](VARIANT* v) { V_BSTR(v) = text; },
                          [&] { SysFreeString(text); });
      }
      VARIANT value;
      VariantInit(&value);
      const HRESULT hr = id == DispIdBinaryData ? get_BinaryData(&value)
                         : id == DispIdGetHREFs ? GetHREFs(&value)
                                                : get_GetHREFNames(&value);
      return MoveResult(hr, result, exception, V_VT(&value), [&](VARIANT* v) { *v = value; },
                        [&] { VariantClear(&value); });
    }
    // Script engines differ in which put flag they send for an assignment;
    // either one reaches the property's put accessor.
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
      flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    const HRESULT hr = factory_.TypeInfo().InterfaceInfo->Invoke(static_cast<IConn2*>(this), id, flags, params,
                                                                  result, exception, argError);
    // A member that ran set the thread's error information itself; a call the
    // type information refused (its codes are the dispatch facility's) ran
    // none, and clears it here rather than on every call.
    return HRESULT_FACILITY(hr) == FACILITY_DISPATCH && hr != DISP_E_EXCEPTION ? Refuse(hr) : hr;
  }

  // A call refused before any member ran leaves no earlier failure's text.
  static HRESULT Refuse(HRESULT hr)
  {
    ClearComError();
    return hr;
  }

  // IConn
  HRESULT STDMETHODCALLTYPE GetURL(BSTR* Value) override
  {
    // A body too large to become a BSTR is a failure of the request as far
    // as the script knows: it goes to Error like the others.
    return AnswerOrDo(Value, [&] { return conn_.GetURL(); },
                      [&] { conn_.RecordError(DescribeCurrentException()); });
  }
  HRESULT STDMETHODCALLTYPE get_Protocol(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Protocol(); });
  }
  HRESULT STDMETHODCALLTYPE put_Protocol(BSTR value) override
  {
    return Answer([&] { conn_.SetProtocol(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_URL(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.URL()}; });
  }
  HRESULT STDMETHODCALLTYPE put_URL(BSTR value) override
  {
    return Answer([&] { conn_.SetURL(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_FileName(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.FileName()}; });
  }
  HRESULT STDMETHODCALLTYPE get_FollowRedirects(VARIANT_BOOL* Value) override
  {
    return Answer(Value, [&] { return conn_.FollowRedirects(); });
  }
  HRESULT STDMETHODCALLTYPE put_FollowRedirects(VARIANT_BOOL value) override
  {
    return Answer([&] { conn_.SetFollowRedirects(value != 0); });
  }
  HRESULT STDMETHODCALLTYPE get_Port(LONG* Value) override
  {
    return Answer(Value, [&] { return conn_.Port(); });
  }
  HRESULT STDMETHODCALLTYPE put_Port(LONG value) override
  {
    return Answer([&] { conn_.SetPort(value); });
  }
  HRESULT STDMETHODCALLTYPE get_Proxy(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Proxy(); });
  }
  HRESULT STDMETHODCALLTYPE put_Proxy(BSTR value) override
  {
    return Answer([&] { conn_.SetProxy(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_TimeOut(LONG* Value) override
  {
    return Answer(Value, [&] { return conn_.TimeOut(); });
  }
  HRESULT STDMETHODCALLTYPE put_TimeOut(LONG value) override
  {
    return Answer([&] { conn_.SetTimeOut(value); });
  }
  HRESULT STDMETHODCALLTYPE get_PostData(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.PostData()}; });
  }
  HRESULT STDMETHODCALLTYPE put_PostData(BSTR value) override
  {
    return Answer([&] { conn_.SetPostData(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_Headers(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Headers(); });
  }
  HRESULT STDMETHODCALLTYPE get_Accept(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Accept(); });
  }
  HRESULT STDMETHODCALLTYPE put_Accept(BSTR value) override
  {
    return Answer([&] { conn_.SetAccept(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_UserAgent(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.UserAgent(); });
  }
  HRESULT STDMETHODCALLTYPE put_UserAgent(BSTR value) override
  {
    return Answer([&] { conn_.SetUserAgent(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_RequestMethod(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.RequestMethod(); });
  }
  HRESULT STDMETHODCALLTYPE put_RequestMethod(BSTR value) override
  {
    return Answer([&] { conn_.SetRequestMethod(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.ContentType(); });
  }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR value) override
  {
    return Answer([&] { conn_.SetContentType(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_ExtraHeaders(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.ExtraHeaders(); });
  }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Version(); });
  }
  HRESULT STDMETHODCALLTYPE get_SaveFileTo(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.SaveFileTo()}; });
  }
  HRESULT STDMETHODCALLTYPE put_SaveFileTo(BSTR value) override
  {
    return Answer([&] { conn_.SetSaveFileTo(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_Authorization(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.Authorization()}; });
  }
  HRESULT STDMETHODCALLTYPE put_Authorization(BSTR value) override
  {
    return Answer([&] { conn_.SetAuthorization(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE AddExtraHeader(BSTR strHeader) override
  {
    return Answer([&] { conn_.AddExtraHeader(BstrToAnsi(strHeader)); });
  }
  HRESULT STDMETHODCALLTYPE ClearExtraHeaders() override
  {
    return Answer([&] { conn_.ClearExtraHeaders(); });
  }
  HRESULT STDMETHODCALLTYPE get_HTTPLog(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.HTTPLog()}; });
  }
  HRESULT STDMETHODCALLTYPE put_HTTPLog(BSTR value) override
  {
    return Answer([&] { conn_.SetHTTPLog(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE URLEncode(BSTR strValue, BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.URLEncode(BstrToUtf8(strValue))}; });
  }
  HRESULT STDMETHODCALLTYPE URLDecode(BSTR strValue, BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.URLDecode(BstrToUtf8(strValue))}; });
  }
  HRESULT STDMETHODCALLTYPE GetHREFs(VARIANT* Value) override
  {
    return Answer(Value, [&] { return conn_.GetHREFs(); });
  }
  HRESULT STDMETHODCALLTYPE get_Error(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Error(); });
  }
  HRESULT STDMETHODCALLTYPE GetHeader(BSTR strHeader, BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.GetHeader(BstrToAnsi(strHeader)); });
  }
  HRESULT STDMETHODCALLTYPE get_ProxyPassword(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.ProxyPassword()}; });
  }
  HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR value) override
  {
    return Answer([&] { conn_.SetProxyPassword(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_Response(BSTR* Value) override
  {
    // Reading the status line never fails: a failure gives the empty text.
    return AnswerOrDo(Value, [&] { return conn_.Response(); }, [] {});
  }
  HRESULT STDMETHODCALLTYPE get_BinaryData(VARIANT* Value) override
  {
    return Answer(Value, [&] { return conn_.BinaryData(); });
  }
  HRESULT STDMETHODCALLTYPE get_GetHREFNames(VARIANT* Value) override
  {
    return Answer(Value, [&] { return conn_.GetHREFNames(); });
  }

  // IConn2
  HRESULT STDMETHODCALLTYPE get_Charset(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.Charset()}; });
  }
  HRESULT STDMETHODCALLTYPE put_Charset(BSTR value) override
  {
    return Answer([&] { conn_.SetCharset(BstrToUtf8(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_ResponseCharset(BSTR* Value) override
  {
    return Answer(Value, [&] { return TUtf8Text{conn_.ResponseCharset()}; });
  }
  HRESULT STDMETHODCALLTYPE get_KeepAlive(VARIANT_BOOL* Value) override
  {
    return Answer(Value, [&] { return conn_.KeepAlive(); });
  }
  HRESULT STDMETHODCALLTYPE put_KeepAlive(VARIANT_BOOL value) override
  {
    return Answer([&] { conn_.SetKeepAlive(value != 0); });
  }
  HRESULT STDMETHODCALLTYPE get_Compression(VARIANT_BOOL* Value) override
  {
    return Answer(Value, [&] { return conn_.Compression(); });
  }
  HRESULT STDMETHODCALLTYPE put_Compression(VARIANT_BOOL value) override
  {
    return Answer([&] { conn_.SetCompression(value != 0); });
  }
  HRESULT STDMETHODCALLTYPE get_KeepCookies(VARIANT_BOOL* Value) override
  {
    return Answer(Value, [&] { return conn_.KeepCookies(); });
  }
  HRESULT STDMETHODCALLTYPE put_KeepCookies(VARIANT_BOOL value) override
  {
    return Answer([&] { conn_.SetKeepCookies(value != 0); });
  }
  HRESULT STDMETHODCALLTYPE get_Cookies(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.Cookies(); });
  }
  HRESULT STDMETHODCALLTYPE put_Cookies(BSTR value) override
  {
    return Answer([&] { conn_.SetCookies(BstrToAnsi(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_TrustedCertificates(BSTR* Value) override
  {
    return Answer(Value, [&] { return conn_.TrustedCertificates(); });
  }
  HRESULT STDMETHODCALLTYPE put_TrustedCertificates(BSTR value) override
  {
    return Answer([&] { conn_.SetTrustedCertificates(BstrToAnsi(value)); });
  }

private:
  // The object's own IUnknown, which an aggregating outer object holds: it
  // never delegates.
  struct TInnerUnknown final : IUnknown {
    TConnObject* self = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
      if (!ppv) return E_POINTER;
      *ppv = self->Find(riid);
      if (!*ppv) return E_NOINTERFACE;
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
      return static_cast<ULONG>(InterlockedIncrement(&self->refCount_));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
      const LONG count = InterlockedDecrement(&self->refCount_);
      if (count == 0) delete self;
      return static_cast<ULONG>(count);
    }
  };

  void* Find(REFIID riid)
  {
    if (IsEqualIID(riid, IID_IUnknown)) return &inner_;
    // IConn2 extends IConn's v-table: one pointer serves clients of either.
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IConn) || IsEqualIID(riid, IID_IConn2))
      return static_cast<IConn2*>(this);
    if (IsEqualIID(riid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualIID(riid, IID_IProvideClassInfo)) return static_cast<IProvideClassInfo*>(this);
    return nullptr;
  }

  bool Implements(REFIID riid) { return Find(riid) != nullptr; }

  // One IConn member: clear the thread's error information and the out
  // parameter, run the member, store its result; a failure becomes the COM
  // error of this class.
  template <class Out, class Member>
  HRESULT Answer(Out* out, Member&& member)
  {
    ClearComError();
    if (!out) return E_POINTER;
    ClearOut(out);
    const TCallGuard guard = Guard();
    if (!guard) return guard.Refusal();
    try {
      StoreOut(out, member());
      return S_OK;
    } catch (...) {
      return ReportCurrentException(factory_.ErrorOrigin());
    }
  }

  // Runs action; a failure that escapes it is given to handle, and one that
  // escapes handling too (memory) is dropped: the empty result still tells.
  template <class Action, class Handler>
  static void DoOrHandle(Action&& action, Handler&& handle)
  {
    try {
      action();
    } catch (...) {
      try {
        handle();
      } catch (...) {
      }
    }
  }

  // A member that handles its own failures: one that escapes is given to
  // handle, and the call succeeds with the cleared result.
  template <class Out, class Member, class Handler>
  HRESULT AnswerOrDo(Out* out, Member&& member, Handler&& handle)
  {
    ClearComError();
    if (!out) return E_POINTER;
    ClearOut(out);
    const TCallGuard guard = Guard();
    if (!guard) return guard.Refusal();
    DoOrHandle([&] { StoreOut(out, member()); },
               [&] {
                 ClearOut(out);
                 handle();
               });
    return S_OK;
  }

  // GetURL's exchange without its text; failures go to Error as GetURL's do.
  HRESULT Fetch()
  {
    ClearComError();
    const TCallGuard guard = Guard();
    if (!guard) return guard.Refusal();
    DoOrHandle([&] { conn_.GetURL(false); }, [&] { conn_.RecordError(DescribeCurrentException()); });
    return S_OK;
  }

  template <class Member>
  HRESULT Answer(Member&& member)
  {
    ClearComError();
    const TCallGuard guard = Guard();
    if (!guard) return guard.Refusal();
    try {
      member();
      return S_OK;
    } catch (...) {
      return ReportCurrentException(factory_.ErrorOrigin());
    }
  }

  // Every member's call runs under one (CallGuard.h).
  TCallGuard Guard() { return TCallGuard(controller_, turn_, conn_, factory_.ErrorOrigin()); }

  TObjectCount objectCount_;
  TCallTurn turn_;
  TConnFactory& factory_;
  TInnerUnknown inner_;
  IUnknown* controller_;
  volatile LONG refCount_ = 0;
  TConn conn_;
};

}  // namespace

HRESULT CreateConnObject(TConnFactory& factory, IUnknown* outer, REFIID riid, void** ppv)
{
  TConnObject* object = nullptr;
  try {
    object = new TConnObject(factory, outer);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  // The caller's reference is the first one; a refused interface leaves the
  // count at 0 and the object is not wanted.
  IUnknown* inner = object->Inner();
  inner->AddRef();
  const HRESULT hr = inner->QueryInterface(riid, ppv);
  inner->Release();
  return hr;
}
