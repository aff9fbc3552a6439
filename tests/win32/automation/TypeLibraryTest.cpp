// The type library embedded in Kestrel.dll: what compiled clients and the
// script engines' IDispatch rely on, entry by entry.
#include <gtest/gtest.h>

#include <string>

#include "AutomationTestSupport.h"

namespace {

class TypeLibrary : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_EQ(S_OK, LoadTypeLibEx(KestrelDll().Path.c_str(), REGKIND_NONE, lib.Receive()));
  }

  std::wstring Doc(ITypeInfo* info, MEMBERID id = MEMBERID_NIL, std::wstring* name = nullptr)
  {
    BSTR n = nullptr, doc = nullptr;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, &n, &doc, nullptr, nullptr));
    if (name) *name = n ? n : L"";
    std::wstring result = doc ? doc : L"";
    SysFreeString(n);
    SysFreeString(doc);
    return result;
  }

  // The v-table side of a dual interface, which Invoke calls through.
  TComPtr<ITypeInfo> InterfaceSide(REFIID iid = IID_IConn)
  {
    TComPtr<ITypeInfo> info;
    EXPECT_EQ(S_OK, lib->GetTypeInfoOfGuid(iid, info.Receive()));
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(S_OK, info->GetTypeAttr(&attr));
    const bool dispatchSide = attr->typekind == TKIND_DISPATCH;
    info->ReleaseTypeAttr(attr);
    if (!dispatchSide) return info;
    HREFTYPE ref = 0;
    TComPtr<ITypeInfo> side;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, side.Receive()));
    return side;
  }

  // The interface's v-table side carries the dual, automation and
  // dispatchable flags and extends expectedBase; gives that base.
  TComPtr<ITypeInfo> DualBase(REFIID iid, REFIID expectedBase)
  {
    TComPtr<ITypeInfo> side = InterfaceSide(iid), base;
    TYPEATTR* attr = nullptr;
    if (!side || side->GetTypeAttr(&attr) != S_OK) {
      ADD_FAILURE() << "no v-table side";
      return base;
    }
    const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(flags, attr->wTypeFlags & flags);
    side->ReleaseTypeAttr(attr);
    HREFTYPE ref = 0;
    EXPECT_EQ(S_OK, side->GetRefTypeOfImplType(0, &ref));
    EXPECT_EQ(S_OK, side->GetRefTypeInfo(ref, base.Receive()));
    if (base && base->GetTypeAttr(&attr) == S_OK) {
      EXPECT_TRUE(IsEqualGUID(expectedBase, attr->guid));
      base->ReleaseTypeAttr(attr);
    }
    return base;
  }

  // Checks an interface's own entries: firstSlot is the v-table slot of its
  // first one, after IUnknown's and IDispatch's seven (and IConn's own for IConn2).
  void ExpectEntries(REFIID iid, const TMember* members, UINT count, UINT firstSlot)
  {
    TComPtr<ITypeInfo> info = InterfaceSide(iid);
    ASSERT_TRUE(info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    ASSERT_EQ(count, attr->cFuncs);
    EXPECT_EQ((firstSlot + count) * sizeof(void*), attr->cbSizeVft);
    info->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < count; ++i) {
      const TMember& e = members[i];
      SCOPED_TRACE(::testing::Message() << "entry " << i << " " << std::string(e.name, e.name + wcslen(e.name)));
      FUNCDESC* f = nullptr;
      ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
      EXPECT_EQ(e.id, f->memid);
      EXPECT_EQ(e.kind, f->invkind);
      EXPECT_EQ(static_cast<SHORT>((firstSlot + i) * sizeof(void*)), f->oVft);
      EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
      const SHORT expectedParams = (e.in != VT_EMPTY ? 1 : 0) + (e.out != VT_EMPTY ? 1 : 0);
      ASSERT_EQ(expectedParams, f->cParams);
      SHORT p = 0;
      if (e.in != VT_EMPTY) {
        EXPECT_EQ(e.in, f->lprgelemdescParam[p].tdesc.vt);
        EXPECT_EQ(PARAMFLAG_FIN, f->lprgelemdescParam[p].paramdesc.wParamFlags);
        ++p;
      }
      if (e.out != VT_EMPTY) {
        const ELEMDESC& out = f->lprgelemdescParam[p];
        ASSERT_EQ(VT_PTR, out.tdesc.vt);
        EXPECT_EQ(e.out, out.tdesc.lptdesc->vt);
        EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, out.paramdesc.wParamFlags);
      }
      const MEMBERID id = f->memid;
      info->ReleaseFuncDesc(f);

      // Names of a property come from its get accessor, which comes first.
      if (e.kind == INVOKE_PROPERTYPUT) continue;
      BSTR names[3] = {};
      UINT named = 0;
      ASSERT_EQ(S_OK, info->GetNames(id, names, 3, &named));
      std::wstring expected[3] = {e.name};
      UINT n = 1;
      if (e.inName) expected[n++] = e.inName;
      if (e.out != VT_EMPTY) expected[n++] = L"Value";
      EXPECT_EQ(n, named);
      for (UINT k = 0; k < named && k < 3; ++k) {
        EXPECT_EQ(expected[k], names[k] ? names[k] : L"") << "name " << k;
        SysFreeString(names[k]);
      }
    }
  }

  TComPtr<ITypeLib> lib;
};

}  // namespace

TEST_F(TypeLibrary, NamesItsLibraryVersionAndSystem)
{
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_Kestrel, attr->guid));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(1, attr->wMinorVerNum);
  EXPECT_EQ(0u, attr->lcid);
  EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
  lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr));
  EXPECT_STREQ(L"Kestrel", name);
  EXPECT_STREQ(L"Kestrel Library", doc);
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(3u, lib->GetTypeInfoCount());
}

TEST_F(TypeLibrary, DescribesIConnAsADualInterfaceOnStdOleIDispatch)
{
  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_IConn, info.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_NE(0, attr->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attr);
  std::wstring name;
  EXPECT_EQ(L"Dispatch interface for Conn Object", Doc(info.Get(), MEMBERID_NIL, &name));
  EXPECT_EQ(L"IConn", name);

  TComPtr<ITypeInfo> base = DualBase(IID_IConn, IID_IDispatch);
  ASSERT_TRUE(base);
  TComPtr<ITypeLib> container;
  UINT index = 0;
  ASSERT_EQ(S_OK, base->GetContainingTypeLib(container.Receive(), &index));
  BSTR libName = nullptr;
  ASSERT_EQ(S_OK, container->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr));
  EXPECT_STREQ(L"stdole", libName);
  SysFreeString(libName);
}

// IConn's 45 entries are published and never change; IConn2's follow them
// in the same v-table.
TEST_F(TypeLibrary, ListsEachInterfacesEntriesInVtableOrder)
{
  {
    SCOPED_TRACE("IConn");
    ExpectEntries(IID_IConn, kMembers, 45, 7);
  }
  SCOPED_TRACE("IConn2");
  ExpectEntries(IID_IConn2, kMembers2, 13, 7 + 45);
}

// IConn2 is a dual interface that extends IConn, so a client compiled
// against IConn finds every one of its members where it always was.
TEST_F(TypeLibrary, DescribesIConn2AsADualInterfaceOnIConn)
{
  EXPECT_TRUE(DualBase(IID_IConn2, IID_IConn));
}

TEST_F(TypeLibrary, DescribesTheConnClassWithIConn2AsDefaultAndIConn)
{
  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(CLSID_Conn, info.Receive()));
  std::wstring name;
  EXPECT_EQ(L"Conn Object", Doc(info.Get(), MEMBERID_NIL, &name));
  EXPECT_EQ(L"Conn", name);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_NE(0, attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(2, attr->cImplTypes);
  info->ReleaseTypeAttr(attr);

  const struct {
    INT flags;
    const IID* iid;
  } implemented[] = {{IMPLTYPEFLAG_FDEFAULT, &IID_IConn2}, {0, &IID_IConn}};
  for (UINT i = 0; i < 2; ++i) {
    INT flags = -1;
    ASSERT_EQ(S_OK, info->GetImplTypeFlags(i, &flags));
    EXPECT_EQ(implemented[i].flags, flags);
    HREFTYPE ref = 0;
    TComPtr<ITypeInfo> itf;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(i, &ref));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, itf.Receive()));
    ASSERT_EQ(S_OK, itf->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(*implemented[i].iid, attr->guid)) << i;
    itf->ReleaseTypeAttr(attr);
  }
}
