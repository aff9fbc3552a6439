// The in-process server as COM and regsvr32 see it: class object, factory,
// object identity and aggregation, unload rules, registration.
#include <gtest/gtest.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <thread>
#include <vector>

#include "AutomationTestSupport.h"

namespace {

const CLSID kOtherClsid = {0xf9ea2eb8, 0x5262, 0x11d2, {0xa2, 0xe1, 0x08, 0x00, 0x09, 0xab, 0x44, 0x47}};

TComPtr<IClassFactory> ConnFactory()
{
  TComPtr<IClassFactory> factory;
  EXPECT_EQ(S_OK, KestrelDll().GetClassObject(CLSID_Conn, IID_IClassFactory, factory.ReceiveVoid()));
  return factory;
}

// A controlling object that aggregates a Conn and counts its own references.
class TOuter : public IUnknown {
public:
  LONG refs = 1;
  TComPtr<IUnknown> inner;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
  {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

bool KeyExists(const std::wstring& key)
{
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// A REG_SZ value under HKEY_CLASSES_ROOT; "<missing>" when absent or not a string.
std::wstring RegText(const std::wstring& key, const wchar_t* name = nullptr)
{
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return L"<missing>";
  DWORD type = 0;
  DWORD size = 0;
  std::wstring result = L"<missing>";
  if (RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    // The stored data carries its terminating zero.
    EXPECT_TRUE(size >= sizeof(wchar_t) && data[size / sizeof(wchar_t) - 1] == L'\0') << key;
    result = data.data();
  }
  RegCloseKey(handle);
  return result;
}

const std::wstring kClassKey = L"CLSID\\{F9EA2EB7-5262-11D2-A2E1-080009AB4447}";
const std::wstring kLibId = L"{F9EA2EB4-5262-11D2-A2E1-080009AB4447}";

std::wstring ShortPath(const std::wstring& path)
{
  wchar_t text[MAX_PATH * 4];
  const DWORD length = GetShortPathNameW(path.c_str(), text, MAX_PATH * 4);
  return std::wstring(text, length);
}

void ExpectRegisteredAt(const std::wstring& serverPath)
{
  EXPECT_EQ(L"Conn Object", RegText(kClassKey));
  EXPECT_EQ(serverPath, RegText(kClassKey + L"\\InprocServer32"));
  EXPECT_EQ(L"Both", RegText(kClassKey + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(L"Conn Object", RegText(L"Kestrel.Conn"));
  EXPECT_EQ(L"{F9EA2EB7-5262-11D2-A2E1-080009AB4447}", RegText(L"Kestrel.Conn\\Clsid"));
  EXPECT_EQ(L"Kestrel.Conn", RegText(kClassKey + L"\\ProgID"));
  EXPECT_EQ(L"1.1", RegText(kClassKey + L"\\Version"));
  EXPECT_EQ(kLibId, RegText(kClassKey + L"\\TypeLib"));
  EXPECT_TRUE(KeyExists(L"TypeLib\\" + kLibId + L"\\1.1"));
}

// The registry is shared with the script tests: leave the library registered.
struct TRegisteredAfterwards {
  ~TRegisteredAfterwards() { EXPECT_EQ(S_OK, KestrelDll().RegisterServer()); }
};

// A volatile key under HKEY_CLASSES_ROOT, with a default value when one is
// given: the registry refuses the lasting keys registration creates under it.
class TVolatileKey {
public:
  TVolatileKey(const std::wstring& key, const wchar_t* value) : key_(key)
  {
    HKEY handle = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &handle, &disposition));
    // An existing key stays as it is, lasting: it would block nothing.
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition) << "the key existed already";
    if (value)
      RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  ~TVolatileKey() { RegDeleteKeyW(HKEY_CLASSES_ROOT, key_.c_str()); }

private:
  std::wstring key_;
};

void SetRegText(const std::wstring& key, const wchar_t* value)
{
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value,
                                        static_cast<DWORD>(wcslen(value) * sizeof(wchar_t))));
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD found, LONG_PTR language)
{
  *reinterpret_cast<WORD*>(language) = found;
  return FALSE;
}

// A copy of the library whose type library resource holds no type library.
std::wstring CopyWithoutTypeLibrary(const std::wstring& copy)
{
  if (!CopyFileW(KestrelDll().Path.c_str(), copy.c_str(), FALSE)) return L"cannot copy";
  HMODULE data = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  WORD language = 0;
  EnumResourceLanguagesW(data, L"TYPELIB", MAKEINTRESOURCEW(1), FirstLanguage, reinterpret_cast<LONG_PTR>(&language));
  FreeLibrary(data);
  HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
  if (!update) return L"cannot update";
  char junk[] = "no type library here";
  if (!UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), language, junk, sizeof junk)) {
    EndUpdateResourceW(update, TRUE);
    return L"cannot replace the type library";
  }
  return EndUpdateResourceW(update, FALSE) ? L"" : L"cannot write";
}

}  // namespace

TEST(ClassObject, OnlyTheConnClassIsServed)
{
  void* object = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, KestrelDll().GetClassObject(kOtherClsid, IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);

  object = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
  EXPECT_EQ(E_NOINTERFACE, KestrelDll().GetClassObject(CLSID_Conn, IID_IDispatch, &object));
  EXPECT_EQ(nullptr, object);

  TComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, KestrelDll().GetClassObject(CLSID_Conn, IID_IUnknown, unknown.ReceiveVoid()));
  EXPECT_TRUE(unknown);
}

TEST(ClassFactory, CreateInstanceChecksItsArguments)
{
  TComPtr<IClassFactory> factory = ConnFactory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IConn, nullptr));

  void* object = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);
  // The refused object is gone again.
  factory.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

TEST(Aggregation, OnlyTheInnerUnknownIsHandedToAnOuterObject)
{
  TComPtr<IClassFactory> factory = ConnFactory();
  TOuter outer;
  void* object = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IConn, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(1, outer.refs);

  ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, outer.inner.ReceiveVoid()));
  EXPECT_EQ(1, outer.refs);
  EXPECT_NE(static_cast<IUnknown*>(&outer), outer.inner.Get());

  // Interfaces of the inner object delegate their IUnknown to the outer one.
  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IConn, conn.ReceiveVoid()));
  EXPECT_EQ(2, outer.refs);
  TComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IUnknown, identity.ReceiveVoid()));
  EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
  identity.Reset();
  conn.Reset();
  EXPECT_EQ(1, outer.refs);

  TBstr version;
  ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IConn, conn.ReceiveVoid()));
  EXPECT_EQ(S_OK, conn->get_Version(version.Out()));
  EXPECT_EQ(L"3.50", version.Text());
  conn.Reset();

  outer.inner.Reset();
  factory.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

TEST(Unloading, LiveObjectsFactoryReferencesAndLocksKeepTheLibrary)
{
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());

  // A reference on the class object is enough.
  TComPtr<IClassFactory> factory = ConnFactory();
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());
  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IConn, conn.ReceiveVoid()));
  factory.Reset();

  // So is one live object.
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());
  conn.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());

  // A server lock is enough as well.
  factory = ConnFactory();
  ASSERT_EQ(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());
  factory = ConnFactory();
  ASSERT_EQ(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

TEST(Unloading, AnUnmatchedUnlockChangesNothingAndLocksWorkOnAnyThread)
{
  TComPtr<IClassFactory> factory = ConnFactory();
  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IConn, conn.ReceiveVoid()));
  EXPECT_EQ(S_FALSE, factory->LockServer(FALSE)) << "no lock to undo";
  factory.Reset();
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow()) << "the live object still counts";

  // A thread that never initialised COM takes a lock, another ends it.
  factory = ConnFactory();
  HRESULT locked = E_FAIL, unlocked = E_FAIL;
  std::thread([&] { locked = factory->LockServer(TRUE); }).join();
  conn.Reset();
  EXPECT_EQ(S_OK, locked);
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow()) << "the lock still counts";
  std::thread([&] { unlocked = factory->LockServer(FALSE); }).join();
  EXPECT_EQ(S_OK, unlocked);
  EXPECT_EQ(S_FALSE, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

// Nothing is loaded while the library loads: the socket library comes with
// the first object and goes when nothing uses the library any more.
TEST(Unloading, TheSocketLibraryIsLoadedOnFirstUseAndReleasedWhenUnused)
{
  ASSERT_EQ(S_OK, KestrelDll().CanUnloadNow());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"wsock32.dll"));
  TComPtr<IConn> conn = NewConn();
  ASSERT_TRUE(conn);
  EXPECT_NE(nullptr, GetModuleHandleW(L"wsock32.dll"));
  EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());
  EXPECT_NE(nullptr, GetModuleHandleW(L"wsock32.dll"));
  conn.Reset();
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"wsock32.dll"));
  // And again for the next object.
  conn = NewConn();
  TBstr version;
  EXPECT_EQ(S_OK, conn->get_Version(version.Out()));
  EXPECT_NE(nullptr, GetModuleHandleW(L"wsock32.dll"));
}

TEST(ObjectIdentity, AnswersExactlyItsSixInterfaces)
{
  TComPtr<IConn> conn = NewConn();
  ASSERT_TRUE(conn);
  TComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IUnknown, identity.ReceiveVoid()));

  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IConn, &IID_IConn2, &IID_ISupportErrorInfo,
                         &IID_IProvideClassInfo}) {
    TComPtr<IUnknown> itf;
    EXPECT_EQ(S_OK, conn->QueryInterface(*iid, itf.ReceiveVoid())) << GuidText(*iid);
    TComPtr<IUnknown> back;
    ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, back.ReceiveVoid()));
    EXPECT_EQ(identity.Get(), back.Get()) << GuidText(*iid);
  }
  for (const IID* iid : {&IID_IClassFactory, &IID_IPersist, &IID_IProvideClassInfo2, &IID_IMarshal,
                         &IID_IConnectionPointContainer}) {
    void* itf = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
    EXPECT_EQ(E_NOINTERFACE, conn->QueryInterface(*iid, &itf)) << GuidText(*iid);
    EXPECT_EQ(nullptr, itf);
  }
}

TEST(ObjectIdentity, SupportsErrorInfoForItsOwnInterfacesOnly)
{
  TComPtr<IConn> conn = NewConn();
  TComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_ISupportErrorInfo, support.ReceiveVoid()));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IConn));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IConn2));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IDispatch));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IProvideClassInfo));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IPersist));
}

TEST(ObjectIdentity, ProvidesTheConnClassInfo)
{
  TComPtr<IConn> conn = NewConn();
  TComPtr<IProvideClassInfo> provide;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IProvideClassInfo, provide.ReceiveVoid()));
  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, provide->GetClassInfo(info.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_TRUE(IsEqualGUID(CLSID_Conn, attr->guid));
  info->ReleaseTypeAttr(attr);
}

TEST(Registration, WritesTheNineEntriesAndCreatesByProgId)
{
  TRegisteredAfterwards restore;
  ASSERT_EQ(S_OK, KestrelDll().RegisterServer());
  const std::wstring& path = KestrelDll().Path;
  ExpectRegisteredAt(path.find(L' ') == std::wstring::npos ? path : ShortPath(path));
  // Registering again over existing keys is fine.
  EXPECT_EQ(S_OK, KestrelDll().RegisterServer());

  CLSID clsid = GUID_NULL;
  ASSERT_EQ(S_OK, CLSIDFromProgID(L"Kestrel.Conn", &clsid));
  EXPECT_TRUE(IsEqualCLSID(CLSID_Conn, clsid));
  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConn, conn.ReceiveVoid()));
  TBstr version;
  EXPECT_EQ(S_OK, conn->get_Version(version.Out()));
  EXPECT_EQ(L"3.50", version.Text());
}

TEST(Registration, UnregisteringTwiceSucceedsAndRemovesEverything)
{
  TRegisteredAfterwards restore;
  ASSERT_EQ(S_OK, KestrelDll().RegisterServer());
  EXPECT_EQ(S_OK, KestrelDll().UnregisterServer());
  EXPECT_EQ(S_OK, KestrelDll().UnregisterServer());
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_FALSE(KeyExists(L"Kestrel.Conn"));
  EXPECT_FALSE(KeyExists(L"TypeLib\\" + kLibId + L"\\1.1"));
  CLSID clsid = GUID_NULL;
  EXPECT_NE(S_OK, CLSIDFromProgID(L"Kestrel.Conn", &clsid));
}

TEST(Registration, APathWithABlankIsWrittenInShortForm)
{
  TRegisteredAfterwards restore;
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring folder = std::wstring(temp) + L"Kestrel server test";
  const std::wstring copy = folder + L"\\Kestrel.dll";
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(KestrelDll().Path.c_str(), copy.c_str(), FALSE));

  TKestrelDll other;
  ASSERT_TRUE(LoadServerExports(copy, other));
  EXPECT_EQ(S_OK, other.RegisterServer());
  const std::wstring shortPath = ShortPath(copy);
  EXPECT_EQ(std::wstring::npos, shortPath.find(L' ')) << shortPath;
  ExpectRegisteredAt(shortPath);
  EXPECT_EQ(S_OK, other.UnregisterServer());
  FreeLibrary(other.Module);
  DeleteFileW(copy.c_str());
  RemoveDirectoryW(folder.c_str());
}

// A registration that fails half-way says which part failed and takes back
// what it wrote: nothing of it stays, and what was there before is as it was.
TEST(Registration, AFailureHalfWayLeavesNothingBehind)
{
  TRegisteredAfterwards restore;
  const std::wstring libKey = L"TypeLib\\" + kLibId;
  const struct {
    std::wstring blocking;      // a volatile key, under which registration cannot create its keys
    const wchar_t* value;       // its default value, if any
    bool registeredBefore;      // with "Old Object" as the class's description
    HRESULT expected;
  } rows[] = {
      {libKey, nullptr, false, SELFREG_E_TYPELIB},
      {L"Kestrel.Conn", L"Someone's", false, SELFREG_E_CLASS},
      {L"Kestrel.Conn", L"Someone's", true, SELFREG_E_CLASS},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.blocking.begin(), row.blocking.end()) + (row.registeredBefore ? " over" : ""));
    ASSERT_EQ(S_OK, KestrelDll().UnregisterServer());
    // Older versions of the library, registered in this prefix by older
    // builds, would keep the library's key from being made volatile.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, libKey.c_str());
    if (row.registeredBefore) {
      ASSERT_EQ(S_OK, KestrelDll().RegisterServer());
      SetRegText(kClassKey, L"Old Object");
      RegDeleteKeyW(HKEY_CLASSES_ROOT, (row.blocking + L"\\Clsid").c_str());
      RegDeleteKeyW(HKEY_CLASSES_ROOT, row.blocking.c_str());
    }
    {
      TVolatileKey blocking(row.blocking, row.value);
      EXPECT_EQ(row.expected, KestrelDll().RegisterServer());
      if (row.value) {
        EXPECT_EQ(row.value, RegText(row.blocking)) << "a value written over is put back";
      }
      if (row.registeredBefore) {
        EXPECT_EQ(L"Old Object", RegText(kClassKey));
        EXPECT_NE(L"<missing>", RegText(kClassKey + L"\\InprocServer32"));
        EXPECT_EQ(L"Both", RegText(kClassKey + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_TRUE(KeyExists(libKey + L"\\1.1"));
      } else {
        EXPECT_EQ(L"<missing>", RegText(kClassKey));
        for (const std::wstring& key : {kClassKey + L"\\InprocServer32", kClassKey + L"\\ProgID",
                                        kClassKey + L"\\TypeLib", libKey + L"\\1.1"})
          EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
      }
    }
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kClassKey.c_str());
  }
  ASSERT_EQ(S_OK, KestrelDll().UnregisterServer());
}

// Nothing is loaded while the library loads, so a library without its type
// information still loads, and each use says what is wrong.
TEST(Registration, ALibraryWithoutItsTypeInformationLoadsAndSaysSo)
{
  TRegisteredAfterwards restore;
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring copy = std::wstring(temp) + L"KestrelNoTypes.dll";
  ASSERT_EQ(L"", CopyWithoutTypeLibrary(copy));
  const std::wstring registered = RegText(kClassKey + L"\\InprocServer32");
  TKestrelDll other;
  ASSERT_TRUE(LoadServerExports(copy, other)) << "error " << GetLastError();

  void* object = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));
  const HRESULT created = other.GetClassObject(CLSID_Conn, IID_IClassFactory, &object);
  EXPECT_TRUE(FAILED(created)) << std::hex << created;
  EXPECT_EQ(nullptr, object);
  const TErrorText error = TakeErrorInfo();
  EXPECT_EQ(L"Type information missing for class Conn", error.Description);
  EXPECT_EQ(S_OK, other.CanUnloadNow());
  const HRESULT refused = other.RegisterServer();
  EXPECT_TRUE(refused == SELFREG_E_TYPELIB || (FAILED(refused) && HRESULT_FACILITY(refused) != FACILITY_ITF))
      << std::hex << refused;
  EXPECT_EQ(registered, RegText(kClassKey + L"\\InprocServer32")) << "the registration is as it was";
  FreeLibrary(other.Module);
  DeleteFileW(copy.c_str());
}

TEST(VersionResource, CarriesTheProductVersions)
{
  const std::wstring& path = KestrelDll().Path;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_NE(0u, size);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(MAKELONG(5, 3), fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(MAKELONG(5, 3), fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);

  struct {
    const wchar_t* name;
    const wchar_t* value;
  } const strings[] = {
      {L"FileVersion", L"3.5.0.0"},       {L"ProductVersion", L"3.0.0.0"},
      {L"FileDescription", L"Kestrel"},   {L"InternalName", L"Kestrel"},
      {L"ProductName", L"Kestrel"},       {L"OriginalFilename", L"Kestrel.dll"},
  };
  for (const auto& s : strings) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904E4\\") + s.name;
    ASSERT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << query;
    EXPECT_STREQ(s.value, value) << query;
  }
}
