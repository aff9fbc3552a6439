// Fuzzes the cookie store with hostile answers and cookie files. Every line
// of the input is a Set-Cookie value for one of a few requests (the line's
// first byte picks which), and the whole input is a cookie file. Invariants:
// - the store keeps its bounds (3000 cookies, 50 a domain, 4096 bytes each);
// - no Cookie line holds a line break, a NUL or another control;
// - the store's text reads back to the same text;
// - a cookie file is taken whole or refused whole with a line number, the
//   store unchanged then.
#include "FuzzSupport.h"
#include "codecs/Exception.h"
#include "codecs/StringList.h"
#include "http/CookieFile.h"

#include <cstdint>
#include <map>
#include <string>

namespace {

const int64_t Now = 1700000000;

const TCookieRequest& RequestFor(unsigned char selector) {
  static const TCookieRequest requests[] = {
      MakeCookieRequest("www.example.com", "/a/b/c", false), MakeCookieRequest("example.com", "/", true),
      MakeCookieRequest("127.0.0.1:8080", "/x?y", false),   MakeCookieRequest("a.b.co.uk", "/", true),
  };
  return requests[selector % 4];
}

void CheckHeader(const std::string& line) {
  for (const char c : line) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control in a Cookie line");
}

void CheckStore(const TCookieStore& store) {
  Check(store.Cookies().size() <= TCookieStore::MaxCookies, "more cookies than the bound");
  std::map<std::string, size_t> perDomain;
  for (const TCookie& cookie : store.Cookies()) {
    Check(++perDomain[cookie.Domain] <= TCookieStore::MaxPerDomain, "more cookies of a domain than the bound");
    Check(cookie.Name.size() + cookie.Value.size() <= TCookieStore::MaxCookieBytes, "a cookie beyond the bound");
    Check(IsCookieDomainText(cookie.Domain) && IsCookiePathText(cookie.Path) && IsCookieNameText(cookie.Name) &&
              IsCookieValueText(cookie.Value),
          "a stored field that the file cannot hold");
  }
}

void CheckRoundTrip(const TCookieStore& store) {
  const std::string text = CookieFileText(store, Now);
  TCookieStore again;
  try {
    LoadCookieFileText(again, text, Now);
  } catch (const Exception&) {
    Fail("the store's own text is refused");
  }
  Check(CookieFileText(again, Now) == text, "the store's text reads back differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  TStringList lines;
  lines.SetText(input.data(), input.size());
  TCookieStore store;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    store.SetCookie(line, RequestFor(line.empty() ? 0 : static_cast<unsigned char>(line[0])), Now + i);
  }
  CheckStore(store);
  for (unsigned char r = 0; r < 4; ++r) CheckHeader(store.CookieHeader(RequestFor(r), Now + 1));
  CheckRoundTrip(store);

  const std::string before = CookieFileText(store, Now);
  try {
    LoadCookieFileText(store, input, Now);
    CheckStore(store);
    CheckRoundTrip(store);
  } catch (const Exception& e) {
    Check(e.Message().compare(0, 20, "Invalid cookie line ") == 0, "a refusal without its line");
    Check(CookieFileText(store, Now) == before, "a refused file changed the store");
  }
  return 0;
}
