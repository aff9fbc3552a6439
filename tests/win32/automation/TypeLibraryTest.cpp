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

  // The v-table side of IConn, which Invoke calls through.
  TComPtr<ITypeInfo> InterfaceSide()
  {
    TComPtr<ITypeInfo> info;
    EXPECT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_IConn, info.Receive()));
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

  TComPtr<ITypeLib> lib;
};

}  // namespace

TEST_F(TypeLibrary, NamesItsLibraryVersionAndSystem)
{
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_Kestrel, attr->guid));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  EXPECT_EQ(0u, attr->lcid);
  EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
  lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr));
  EXPECT_STREQ(L"Kestrel", name);
  EXPECT_STREQ(L"Kestrel Library", doc);
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(2u, lib->GetTypeInfoCount());
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

  TComPtr<ITypeInfo> side = InterfaceSide();
  ASSERT_TRUE(side);
  ASSERT_EQ(S_OK, side->GetTypeAttr(&attr));
  const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(flags, attr->wTypeFlags & flags);
  side->ReleaseTypeAttr(attr);
  HREFTYPE ref = 0;
  TComPtr<ITypeInfo> base;
  ASSERT_EQ(S_OK, side->GetRefTypeOfImplType(0, &ref));
  ASSERT_EQ(S_OK, side->GetRefTypeInfo(ref, base.Receive()));
  ASSERT_EQ(S_OK, base->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(IID_IDispatch, attr->guid));
  base->ReleaseTypeAttr(attr);
  TComPtr<ITypeLib> container;
  UINT index = 0;
  ASSERT_EQ(S_OK, base->GetContainingTypeLib(container.Receive(), &index));
  BSTR libName = nullptr;
  ASSERT_EQ(S_OK, container->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr));
  EXPECT_STREQ(L"stdole", libName);
  SysFreeString(libName);
}

TEST_F(TypeLibrary, ListsTheFortyFiveEntriesInVtableOrder)
{
  TComPtr<ITypeInfo> info = InterfaceSide();
  ASSERT_TRUE(info);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  ASSERT_EQ(45, attr->cFuncs);
  EXPECT_EQ((7 + 45) * sizeof(void*), attr->cbSizeVft);
  info->ReleaseTypeAttr(attr);

  for (UINT i = 0; i < 45; ++i) {
    const TMember& e = kMembers[i];
    SCOPED_TRACE(::testing::Message() << "entry " << i << " " << std::string(e.name, e.name + wcslen(e.name)));
    FUNCDESC* f = nullptr;
    ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
    EXPECT_EQ(e.id, f->memid);
    EXPECT_EQ(e.kind, f->invkind);
    EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), f->oVft);
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
    UINT count = 0;
    ASSERT_EQ(S_OK, info->GetNames(id, names, 3, &count));
    std::wstring expected[3] = {e.name};
    UINT n = 1;
    if (e.inName) expected[n++] = e.inName;
    if (e.out != VT_EMPTY) expected[n++] = L"Value";
    EXPECT_EQ(n, count);
    for (UINT k = 0; k < count && k < 3; ++k) {
      EXPECT_EQ(expected[k], names[k] ? names[k] : L"") << "name " << k;
      SysFreeString(names[k]);
    }
  }
}

TEST_F(TypeLibrary, DescribesTheConnClassWithIConnAsDefault)
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
  EXPECT_EQ(1, attr->cImplTypes);
  info->ReleaseTypeAttr(attr);

  INT flags = 0;
  ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
  EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
  HREFTYPE ref = 0;
  TComPtr<ITypeInfo> itf;
  ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
  ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, itf.Receive()));
  ASSERT_EQ(S_OK, itf->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(IID_IConn, attr->guid));
  itf->ReleaseTypeAttr(attr);
}
