// IConn through IDispatch, as the script engines call it: names, type
// information, argument coercion, put flags, exceptions and the thread's
// error information.
#include <gtest/gtest.h>
#include <olectl.h>

#include <cwctype>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"
#include "ComError.h"
#include "DispatchResult.h"

namespace {

class Dispatch : public TDispatchTest {
protected:
  // Invoke with the arguments given (in call order); result and exception
  // information land in the fixture.
  HRESULT Call(DISPID id, WORD flags, VARIANT* args = nullptr, UINT count = 0)
  {
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    return InvokeWith(id, flags, std::vector<VARIANT>(args, args + count), put);
  }
};

VARIANT Text(BSTR text)
{
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = text;
  return v;
}

}  // namespace

TEST_F(Dispatch, HasOneTypeInfoForIConn2)
{
  UINT count = 0;
  EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);

  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(static_cast<ULONG_PTR>(0xdeadbeef));
  EXPECT_EQ(DISP_E_BADINDEX, disp->GetTypeInfo(1, 0, &none));
  EXPECT_EQ(nullptr, none);

  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, info.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(IID_IConn2, attr->guid));
  info->ReleaseTypeAttr(attr);
}

TEST_F(Dispatch, KnowsEveryMemberByName)
{
  for (const TMember& m : AllMembers()) {
    LPOLESTR name = const_cast<LPOLESTR>(m.name);
    DISPID id = -7;
    EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << m.name;
    EXPECT_EQ(m.id, id) << m.name;
  }

  // Scripts do not care about case.
  LPOLESTR lower = const_cast<LPOLESTR>(L"urlencode");
  DISPID id = -7;
  EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, &lower, 1, 0, &id));
  EXPECT_EQ(23, id);

  LPOLESTR unknown = const_cast<LPOLESTR>(L"Fetch");
  EXPECT_EQ(DISP_E_UNKNOWNNAME, disp->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id));
  EXPECT_EQ(DISPID_UNKNOWN, id);
  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, disp->GetIDsOfNames(IID_IConn, &lower, 1, 0, &id));
}

// Member names are answered from a table kept beside the type information:
// every name, in any case, must get what the type information itself gives,
// and so must the names the table leaves to it.
TEST_F(Dispatch, NamesAnswerAsTheTypeInformationAnswers)
{
  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, info.Receive()));
  std::vector<std::wstring> names = {L"", L"Invoke", L"queryinterface", L"Fetch", L"Vers\u00EDon",
                                     L"Version ", L"Ver-sion", L"Ver\x01sion", std::wstring(80, L'A'),
                                     L"_", L"URL2"};
  for (const TMember& m : AllMembers()) {
    std::wstring lower = m.name, upper = m.name;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    names.push_back(m.name);
    names.push_back(lower);
    names.push_back(upper);
  }
  for (const std::wstring& name : names) {
    LPOLESTR text = const_cast<LPOLESTR>(name.c_str());
    DISPID ours = -7, theirs = -7;
    const HRESULT ourResult = disp->GetIDsOfNames(IID_NULL, &text, 1, 0, &ours);
    const HRESULT theirResult = DispGetIDsOfNames(info.Get(), &text, 1, &theirs);
    EXPECT_EQ(theirResult, ourResult) << std::string(name.begin(), name.end());
    EXPECT_EQ(theirs, ours) << std::string(name.begin(), name.end());
  }

  // A member with a named argument: both names go to the type information.
  LPOLESTR pair[] = {const_cast<LPOLESTR>(L"urlencode"), const_cast<LPOLESTR>(L"value")};
  DISPID ours[2] = {-7, -7}, theirs[2] = {-7, -7};
  EXPECT_EQ(DispGetIDsOfNames(info.Get(), pair, 2, theirs), disp->GetIDsOfNames(IID_NULL, pair, 2, 0, ours));
  EXPECT_EQ(theirs[0], ours[0]);
  EXPECT_EQ(theirs[1], ours[1]);
}

TEST_F(Dispatch, InvokesMembersWithCoercedArguments)
{
  ASSERT_EQ(S_OK, Call(16, DISPATCH_PROPERTYGET));
  ASSERT_EQ(VT_BSTR, V_VT(&result));
  EXPECT_STREQ(L"3.50", V_BSTR(&result));

  TBstr text(L"a b&c");
  VARIANT arg = Text(text.Get());
  ASSERT_EQ(S_OK, Call(23, DISPATCH_METHOD, &arg, 1));
  EXPECT_STREQ(L"a+b%26c", V_BSTR(&result));

  // A number is turned into text by the platform before the member sees it.
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = -42;
  ASSERT_EQ(S_OK, Call(23, DISPATCH_METHOD, &number, 1));
  EXPECT_STREQ(L"-42", V_BSTR(&result));

  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(17, DISPATCH_METHOD));
}

TEST_F(Dispatch, AFailingMemberRaisesAnExceptionWithItsMessage)
{
  TBstr text(L"%zz");
  VARIANT arg = Text(text.Get());
  ASSERT_EQ(DISP_E_EXCEPTION, Call(24, DISPATCH_METHOD, &arg, 1));
  EXPECT_EQ(E_UNEXPECTED, exception.scode);
  EXPECT_STREQ(L"Kestrel.Conn", exception.bstrSource);
  EXPECT_STREQ(L"'$zz' is not a valid integer value", exception.bstrDescription);
  // No value. The platform may pass the cleared out parameter on as an
  // empty text.
  EXPECT_TRUE(V_VT(&result) == VT_EMPTY || (V_VT(&result) == VT_BSTR && SysStringLen(V_BSTR(&result)) == 0));
}

TEST_F(Dispatch, EitherPutFlagReachesThePutAccessor)
{
  TBstr text(L"localhost:8080");
  for (WORD flags : {WORD(DISPATCH_PROPERTYPUT), WORD(DISPATCH_PROPERTYPUTREF)}) {
    VARIANT arg = Text(text.Get());
    // Whatever the member answers, it was found.
    EXPECT_NE(DISP_E_MEMBERNOTFOUND, Call(7, flags, &arg, 1)) << flags;
  }
}

// GetURL, GetHREFs, BinaryData and GetHREFNames are answered without the type
// information's Invoke (their results are moved, not copied): they must look
// the same to a script, take no arguments, and honour a caller that wants no result.
TEST_F(Dispatch, BodyAndLinkMembersAnswerAsTheTypeInformationWould)
{
  ASSERT_EQ(S_OK, Call(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET));  // GetURL before any URL
  EXPECT_EQ(VT_BSTR, V_VT(&result));
  EXPECT_EQ(nullptr, V_BSTR(&result));

  ASSERT_EQ(S_OK, Call(30, DISPATCH_PROPERTYGET));  // BinaryData: an empty byte array
  EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&result));

  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, disp->QueryInterface(IID_IConn, conn.ReceiveVoid()));
  for (DISPID id : {25, 31}) {  // GetHREFs, GetHREFNames: the same as through the v-table
    VARIANT direct;
    VariantInit(&direct);
    ASSERT_EQ(S_OK, id == 25 ? conn->GetHREFs(&direct) : conn->get_GetHREFNames(&direct));
    ASSERT_EQ(S_OK, Call(id, id == 25 ? DISPATCH_METHOD : DISPATCH_PROPERTYGET)) << id;
    EXPECT_EQ(V_VT(&direct), V_VT(&result)) << id;
    VariantClear(&direct);
  }

  // No result wanted: the value is released, nothing is written.
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (DISPID id : {1, 25, 30, 31})
    EXPECT_EQ(S_OK, disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                 &none, nullptr, nullptr, nullptr))
        << id;

  // An argument too many goes the ordinary way and is refused.
  TBstr extra(L"x");
  VARIANT arg = Text(extra.Get());
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(1, DISPATCH_METHOD, &arg, 1));
}

// A method runs only when called: reading it as a property is answered as
// the type information answers it, and sends nothing. The same for a
// property called as a method.
TEST_F(Dispatch, EachMemberAnswersOnlyTheKindsOfCallTheTypeInformationGivesIt)
{
  TComPtr<IConn2> conn;
  ASSERT_EQ(S_OK, disp->QueryInterface(IID_IConn2, conn.ReceiveVoid()));
  TComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, info.Receive()));
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty()) << "scenario server not running";
  TBstr url(base + L"echo/read-as-property");
  ASSERT_EQ(S_OK, conn->put_URL(url.Get()));

  const struct {
    DISPID id;
    WORD flags;
    HRESULT expected;
  } rows[] = {
      {1, DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND},   // GetURL
      {25, DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND},  // GetHREFs
      {30, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},       // BinaryData
      {31, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},       // GetHREFNames
      {30, DISPATCH_PROPERTYGET, S_OK},
      {31, DISPATCH_PROPERTYGET, S_OK},
      {16, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},  // Version, through the type information
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, Call(row.id, row.flags)) << row.id << " " << row.flags;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT theirs;
    VariantInit(&theirs);
    EXCEPINFO theirException = {};
    UINT argError = 0;
    EXPECT_EQ(row.expected, info->Invoke(conn.Get(), row.id, row.flags, &none, &theirs, &theirException, &argError))
        << "the type information: " << row.id << " " << row.flags;
    VariantClear(&theirs);
  }
  TBstr headers;
  EXPECT_EQ(S_OK, conn->get_Headers(headers.Out()));
  EXPECT_EQ(L"", headers.Text()) << "a request was sent";
}

// A member's result never comes with an earlier failure's error information;
// a member that fails leaves its own.
TEST_F(Dispatch, NoMemberLeavesAnEarlierFailuresErrorInformation)
{
  TComPtr<IConn2> conn;
  ASSERT_EQ(S_OK, disp->QueryInterface(IID_IConn2, conn.ReceiveVoid()));
  TBstr bad(L"%zz"), good(L"a b"), out;
  const struct {
    const char* name;
    std::function<HRESULT()> call;
    HRESULT expected;
    const wchar_t* description;  // null: no error information
  } rows[] = {
      {"get_URL(NULL)", [&] { return conn->get_URL(nullptr); }, E_POINTER, nullptr},
      {"GetHREFs(NULL)", [&] { return conn->GetHREFs(nullptr); }, E_POINTER, nullptr},
      {"get_Version", [&] { return conn->get_Version(out.Out()); }, S_OK, nullptr},
      {"URLEncode", [&] { return conn->URLEncode(good.Get(), out.Out()); }, S_OK, nullptr},
      {"GetURL without URL", [&] { return conn->GetURL(out.Out()); }, S_OK, nullptr},
      {"Invoke of no member", [&] { return Call(99, DISPATCH_METHOD); }, DISP_E_MEMBERNOTFOUND, nullptr},
      {"GetURL read as property", [&] { return Call(1, DISPATCH_PROPERTYGET); }, DISP_E_MEMBERNOTFOUND, nullptr},
      {"URLDecode failing", [&] { return conn->URLDecode(bad.Get(), out.Out()); }, E_UNEXPECTED,
       L"'$zz' is not a valid integer value"},
  };
  for (const auto& row : rows) {
    TBstr proxy(L"no-port");
    ASSERT_EQ(E_UNEXPECTED, conn->put_Proxy(proxy.Get()));  // leaves error information behind
    EXPECT_EQ(row.expected, row.call()) << row.name;
    const TErrorText error = TakeErrorInfo();
    EXPECT_EQ(row.description != nullptr, error.Present)
        << row.name << ": " << std::string(error.Description.begin(), error.Description.end());
    if (row.description) {
      EXPECT_EQ(row.description, error.Description) << row.name;
    }
  }
}

// A failure reaches an Invoke caller as DISP_E_EXCEPTION whether or not it
// gave an exception record: through the type information, and from the
// members Invoke answers itself.
TEST_F(Dispatch, AFailureIsAnExceptionWithOrWithoutARecord)
{
  TBstr bad(L"%zz");
  VARIANT arg = Text(bad.Get());
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  EXPECT_EQ(DISP_E_EXCEPTION,
            disp->Invoke(24, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
  EXPECT_EQ(L"'$zz' is not a valid integer value", TakeErrorInfo().Description);

  const TErrorOrigin origin{IID_IConn, L"Kestrel.Conn"};
  for (const bool record : {false, true}) {
    ClearException();
    VariantClear(&result);
    ReportComError(origin, "Out of memory", E_OUTOFMEMORY);
    bool released = false;
    EXPECT_EQ(DISP_E_EXCEPTION, MoveResult(E_OUTOFMEMORY, &result, record ? &exception : nullptr, VT_BSTR,
                                           [](VARIANT*) { ADD_FAILURE() << "stored a failed result"; },
                                           [&] { released = true; }));
    EXPECT_TRUE(released);
    EXPECT_EQ(VT_EMPTY, V_VT(&result));
    const TErrorText left = TakeErrorInfo();
    if (record) {
      EXPECT_EQ(E_OUTOFMEMORY, exception.scode);
      EXPECT_STREQ(L"Out of memory", exception.bstrDescription);
      EXPECT_STREQ(L"Kestrel.Conn", exception.bstrSource);
      EXPECT_FALSE(left.Present) << "moved into the record";
    } else {
      EXPECT_EQ(L"Out of memory", left.Description) << "left on the thread";
    }
  }
}

// Every failure gets its code: memory its own, one carrying a code that code.
TEST(ComError, EachFailureGetsItsCodeAndItsText)
{
  const TErrorOrigin origin{IID_IConn, L"Kestrel.Conn"};
  const struct {
    std::function<void()> fail;
    HRESULT expected;
    const wchar_t* description;
  } rows[] = {
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY, L"Out of memory"},
      {[] { throw Exception("Proxy port is required"); }, E_UNEXPECTED, L"Proxy port is required"},
      {[] { throw EOleSysError("Error creating system registry entry", SELFREG_E_CLASS); }, SELFREG_E_CLASS,
       L"Error creating system registry entry"},
      {[] { throw std::runtime_error("plain"); }, E_UNEXPECTED, L"plain"},
  };
  for (const auto& row : rows) {
    HRESULT hr = S_OK;
    try {
      row.fail();
    } catch (...) {
      hr = ReportCurrentException(origin);
    }
    EXPECT_EQ(row.expected, hr);
    const TErrorText error = TakeErrorInfo();
    EXPECT_EQ(row.description, error.Description);
    EXPECT_EQ(L"Kestrel.Conn", error.Source);
    EXPECT_TRUE(IsEqualGUID(IID_IConn, error.Interface));
  }
}
