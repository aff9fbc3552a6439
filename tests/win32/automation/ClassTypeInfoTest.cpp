// The checks that keep the library from loading with type information that
// does not fit its class, run against type libraries built to mismatch.
#include <gtest/gtest.h>

#include <string>

#include "AutomationTestSupport.h"
#include "ClassTypeInfo.h"
#include "codecs/Exception.h"

namespace {

GUID Mismatched(unsigned short last)
{
  return {0x6b1f3e10, 0x2c0a, 0x4e4b, {0x9c, 0x11, 0x5a, 0x0d, 0x7e, 0x2b, 0x00, static_cast<BYTE>(last)}};
}

std::string LoadFailure(ITypeLib* lib, REFCLSID clsid, REFIID implemented)
{
  try {
    LoadClassTypeInfo(lib, clsid, implemented, "Conn");
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(loaded)";
}

class ClassTypeInfoChecks : public ::testing::Test {
protected:
  void SetUp() override
  {
    const std::wstring path = TestFolder() + L"MismatchedTypes.tlb";
    ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, mismatched.Receive()));
  }
  TComPtr<ITypeLib> mismatched;
};

}  // namespace

TEST_F(ClassTypeInfoChecks, AcceptTheConnClassOfKestrel)
{
  TComPtr<ITypeLib> lib;
  ASSERT_EQ(S_OK, LoadTypeLibEx(KestrelDll().Path.c_str(), REGKIND_NONE, lib.Receive()));
  TClassTypeInfo info = LoadClassTypeInfo(lib.Get(), CLSID_Conn, IID_IConn2, "Conn");
  EXPECT_EQ("Conn", info.ClassName);
  EXPECT_EQ("Conn Object", info.Description);
  EXPECT_TRUE(IsEqualIID(IID_IConn2, info.ErrorInterface));
  // The names table holds the members IConn2 inherits as well as its own,
  // and none of IDispatch's.
  DISPID id = -7;
  EXPECT_TRUE(info.Members.Find(L"url", id));
  EXPECT_EQ(3, id);
  EXPECT_TRUE(info.Members.Find(L"KEEPALIVE", id));
  EXPECT_EQ(34, id);
  EXPECT_FALSE(info.Members.Find(L"Invoke", id));
  // IDispatch calls through the v-table, so the interface side is kept.
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info.InterfaceInfo->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
  info.InterfaceInfo->ReleaseTypeAttr(attr);
}

TEST_F(ClassTypeInfoChecks, RefuseAMissingClass)
{
  EXPECT_EQ("Type information missing for class Conn",
            LoadFailure(mismatched.Get(), CLSID_Conn, IID_IConn));
}

TEST_F(ClassTypeInfoChecks, RefuseAClassWithoutADualDefaultInterface)
{
  EXPECT_EQ("Incorrect type information for class Plain",
            LoadFailure(mismatched.Get(), Mismatched(0x10), IID_IConn));
  EXPECT_EQ("Incorrect type information for class Pure",
            LoadFailure(mismatched.Get(), Mismatched(0x11), IID_IConn));
  EXPECT_EQ("Incorrect type information for class EventsOnly",
            LoadFailure(mismatched.Get(), Mismatched(0x13), IID_IConn));
}

TEST_F(ClassTypeInfoChecks, RefuseAnInterfaceTheObjectDoesNotImplement)
{
  EXPECT_EQ("Dispatch interface missing from class Other",
            LoadFailure(mismatched.Get(), Mismatched(0x12), IID_IConn));
  EXPECT_EQ("(loaded)", LoadFailure(mismatched.Get(), Mismatched(0x12), Mismatched(0x04)));
}
