#include "ClassTypeInfo.h"

#include <oleauto.h>

#include "TextBoundary.h"
#include "codecs/Exception.h"

namespace {

[[noreturn]] void Fail(const char* message, const std::string& className)
{
  throw Exception(std::string(message) + " " + className);
}

std::string TakeBstr(BSTR text)
{
  std::string result = BstrToAnsi(text);
  SysFreeString(text);
  return result;
}

// The coclass's default, non-source interface; null when it has none.
TComPtr<ITypeInfo> DefaultInterface(ITypeInfo* classInfo)
{
  TComPtr<ITypeInfo> result;
  TYPEATTR* attr = nullptr;
  if (FAILED(classInfo->GetTypeAttr(&attr))) return result;
  const WORD count = attr->cImplTypes;
  classInfo->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    INT flags = 0;
    HREFTYPE ref = 0;
    if (FAILED(classInfo->GetImplTypeFlags(i, &flags))) continue;
    if ((flags & IMPLTYPEFLAG_FDEFAULT) == 0 || (flags & IMPLTYPEFLAG_FSOURCE) != 0) continue;
    if (SUCCEEDED(classInfo->GetRefTypeOfImplType(i, &ref)))
      classInfo->GetRefTypeInfo(ref, result.Receive());
    break;
  }
  return result;
}

// Invoke through the type information calls the object's v-table, so a dual
// interface is served from its TKIND_INTERFACE side. A pure dispinterface
// has no v-table to call and does not qualify.
TComPtr<ITypeInfo> VtableSide(TComPtr<ITypeInfo> info, IID& iid)
{
  TComPtr<ITypeInfo> result;
  TYPEATTR* attr = nullptr;
  if (!info || FAILED(info->GetTypeAttr(&attr))) return result;
  const TYPEKIND kind = attr->typekind;
  const bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  iid = attr->guid;
  info->ReleaseTypeAttr(attr);
  if (!dual) return result;
  if (kind == TKIND_INTERFACE) return info;
  HREFTYPE ref = 0;
  if (kind == TKIND_DISPATCH && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)))
    info->GetRefTypeInfo(ref, result.Receive());
  return result;
}

// Every function of the interface and of the interfaces it extends, the
// interface's own first, in the order the type information searches them: a
// property's get and put share a name and an id. IDispatch's own functions
// are no members of the class.
TMemberNames ReadMembers(ITypeInfo* info)
{
  TMemberNames members;
  info->AddRef();
  TComPtr<ITypeInfo> current(info);
  // Bounded by the depth of the inheritance chain, which ends at IDispatch.
  for (int depth = 0; current && depth < 16; ++depth) {
    TYPEATTR* attr = nullptr;
    if (FAILED(current->GetTypeAttr(&attr))) break;
    const WORD count = attr->cFuncs;
    const WORD bases = attr->cImplTypes;
    const bool dispatchItself = IsEqualGUID(attr->guid, IID_IDispatch) != 0;
    current->ReleaseTypeAttr(attr);
    if (dispatchItself) break;
    for (UINT i = 0; i < count; ++i) {
      FUNCDESC* func = nullptr;
      if (FAILED(current->GetFuncDesc(i, &func))) continue;
      const MEMBERID id = func->memid;
      current->ReleaseFuncDesc(func);
      BSTR name = nullptr;
      UINT names = 0;
      if (SUCCEEDED(current->GetNames(id, &name, 1, &names)) && names == 1) members.Add(name, id);
      SysFreeString(name);
    }
    TComPtr<ITypeInfo> base;
    HREFTYPE ref = 0;
    if (bases == 0 || FAILED(current->GetRefTypeOfImplType(0, &ref)) ||
        FAILED(current->GetRefTypeInfo(ref, base.Receive())))
      break;
    current = base;
  }
  return members;
}

}  // namespace

bool TMemberNames::MakeKey(const wchar_t* name, std::string& key)
{
  key.clear();
  if (!name) return false;
  for (const wchar_t* c = name; *c; ++c) {
    const wchar_t w = *c;
    if (w >= L'a' && w <= L'z')
      key += static_cast<char>(w - L'a' + 'A');
    else if ((w >= L'A' && w <= L'Z') || (w >= L'0' && w <= L'9') || w == L'_')
      key += static_cast<char>(w);
    else
      return false;
    if (key.size() > 64) return false;  // longer than any member: the type information answers
  }
  return !key.empty();
}

void TMemberNames::Add(const wchar_t* name, DISPID id)
{
  std::string key;
  if (!MakeKey(name, key)) return;
  for (const TEntry& entry : entries_)
    if (entry.Key == key) return;  // the first of a name is the one found
  entries_.push_back(TEntry{std::move(key), id});
}

bool TMemberNames::Find(const wchar_t* name, DISPID& id) const
{
  std::string key;
  if (!MakeKey(name, key)) return false;
  for (const TEntry& entry : entries_) {
    if (entry.Key == key) {
      id = entry.Id;
      return true;
    }
  }
  return false;
}

TClassTypeInfo LoadClassTypeInfo(ITypeLib* lib, REFCLSID clsid, REFIID implemented,
                                 const std::string& className)
{
  TClassTypeInfo result;
  if (FAILED(lib->GetTypeInfoOfGuid(clsid, result.ClassInfo.Receive())))
    Fail("Type information missing for class", className);

  BSTR name = nullptr;
  BSTR description = nullptr;
  result.ClassInfo->GetDocumentation(MEMBERID_NIL, &name, &description, nullptr, nullptr);
  result.ClassName = TakeBstr(name);
  result.Description = TakeBstr(description);
  const std::string shownName = result.ClassName.empty() ? className : result.ClassName;

  IID iid = IID_NULL;
  result.InterfaceInfo = VtableSide(DefaultInterface(result.ClassInfo.Get()), iid);
  if (!result.InterfaceInfo) Fail("Incorrect type information for class", shownName);
  if (!IsEqualIID(iid, implemented)) Fail("Dispatch interface missing from class", shownName);
  result.ErrorInterface = iid;
  result.Members = ReadMembers(result.InterfaceInfo.Get());
  return result;
}
