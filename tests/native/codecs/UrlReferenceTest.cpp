#include "codecs/UrlReference.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ResolveCase {
  const char* base;
  const char* reference;
  const char* target;
};

// RFC 3986 section 5.4 (normal and abnormal examples), then what redirects meet.
const ResolveCase ResolveCases[] = {
    {"http://a/b/c/d;p?q", "g:h", "g:h"},
    {"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "./g", "http://a/b/c/g"},
    {"http://a/b/c/d;p?q", "g/", "http://a/b/c/g/"},
    {"http://a/b/c/d;p?q", "/g", "http://a/g"},
    {"http://a/b/c/d;p?q", "//g", "http://g"},
    {"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
    {"http://a/b/c/d;p?q", "g?y", "http://a/b/c/g?y"},
    {"http://a/b/c/d;p?q", "#s", "http://a/b/c/d;p?q#s"},
    {"http://a/b/c/d;p?q", "g#s", "http://a/b/c/g#s"},
    {"http://a/b/c/d;p?q", "g?y#s", "http://a/b/c/g?y#s"},
    {"http://a/b/c/d;p?q", ";x", "http://a/b/c/;x"},
    {"http://a/b/c/d;p?q", "g;x", "http://a/b/c/g;x"},
    {"http://a/b/c/d;p?q", "g;x?y#s", "http://a/b/c/g;x?y#s"},
    {"http://a/b/c/d;p?q", "", "http://a/b/c/d;p?q"},
    {"http://a/b/c/d;p?q", ".", "http://a/b/c/"},
    {"http://a/b/c/d;p?q", "./", "http://a/b/c/"},
    {"http://a/b/c/d;p?q", "..", "http://a/b/"},
    {"http://a/b/c/d;p?q", "../", "http://a/b/"},
    {"http://a/b/c/d;p?q", "../g", "http://a/b/g"},
    {"http://a/b/c/d;p?q", "../..", "http://a/"},
    {"http://a/b/c/d;p?q", "../../", "http://a/"},
    {"http://a/b/c/d;p?q", "../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "../../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "../../../../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "/./g", "http://a/g"},
    {"http://a/b/c/d;p?q", "/../g", "http://a/g"},
    {"http://a/b/c/d;p?q", "g.", "http://a/b/c/g."},
    {"http://a/b/c/d;p?q", ".g", "http://a/b/c/.g"},
    {"http://a/b/c/d;p?q", "g..", "http://a/b/c/g.."},
    {"http://a/b/c/d;p?q", "..g", "http://a/b/c/..g"},
    {"http://a/b/c/d;p?q", "./../g", "http://a/b/g"},
    {"http://a/b/c/d;p?q", "./g/.", "http://a/b/c/g/"},
    {"http://a/b/c/d;p?q", "g/./h", "http://a/b/c/g/h"},
    {"http://a/b/c/d;p?q", "g/../h", "http://a/b/c/h"},
    {"http://a/b/c/d;p?q", "g;x=1/./y", "http://a/b/c/g;x=1/y"},
    {"http://a/b/c/d;p?q", "g;x=1/../y", "http://a/b/c/y"},
    {"http://a/b/c/d;p?q", "g?y/./x", "http://a/b/c/g?y/./x"},
    {"http://a/b/c/d;p?q", "g?y/../x", "http://a/b/c/g?y/../x"},
    {"http://a/b/c/d;p?q", "g#s/./x", "http://a/b/c/g#s/./x"},
    {"http://a/b/c/d;p?q", "g#s/../x", "http://a/b/c/g#s/../x"},
    {"http://a/b/c/d;p?q", "http:g", "http:g"},
    // A base without a path, the scheme's case and the port kept, a base
    // fragment dropped, an absolute target as it is.
    {"http://h:81", "page2.html", "http://h:81/page2.html"},
    {"HTTPS://h/dir/redir", "page2.html", "HTTPS://h/dir/page2.html"},
    {"http://h/dir/redir#top", "?x=1", "http://h/dir/redir?x=1"},
    {"http://h/dir/redir", "//other:82/path", "http://other:82/path"},
    {"https://h/dir/redir", "//other/path?q", "https://other/path?q"},
    {"http://h/dir/redir", "HTTP://ORIGIN.TEST/s/x", "HTTP://ORIGIN.TEST/s/x"},
    {"http://h/dir/sub/redir", "../up.html", "http://h/dir/up.html"},
    {"http://h/dir/redir", "/x/../y/./z", "http://h/y/z"},
    // A colon after a "/" is no scheme; a first segment with one is.
    {"http://h/dir/redir", "a/b:c", "http://h/dir/a/b:c"},
    {"http://h/dir/redir", "ftp://h/file", "ftp://h/file"},
    {"http://h/dir/redir", "mailto:someone@example.com", "mailto:someone@example.com"},
    {"http://h/dir/redir", "1a:b", "http://h/dir/1a:b"},
};

TEST(UrlReference, ResolvesAsSection5Says) {
  for (const ResolveCase& c : ResolveCases)
    EXPECT_EQ(ResolveUrlReference(c.base, c.reference), c.target) << c.base << " + " << c.reference;
}

TEST(UrlReference, SplitsAndJoinsEveryComponent) {
  const char* const references[] = {"http://u@h:1/p?q#f", "//h", "?", "#", "?#", "a:", "/p?q?r#f#g", "", "x"};
  for (const char* reference : references)
    EXPECT_EQ(JoinUrlComponents(SplitUrlReference(reference)), reference) << reference;
  const TUrlComponents parts = SplitUrlReference("https://u@h:1/p/q?x=/y#f?g");
  EXPECT_EQ(parts.Scheme, "https");
  EXPECT_EQ(parts.Authority, "u@h:1");
  EXPECT_EQ(parts.Path, "/p/q");
  EXPECT_EQ(parts.Query, "x=/y");
  EXPECT_EQ(parts.Fragment, "f?g");
}

TEST(UrlReference, RemovesDotSegments) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a/b/c/./../../g", "/a/g"}, {"mid/content=5/../6", "mid/6"}, {"/..", "/"},  {"/.", "/"},
      {"../../x", "x"},             {"/a//../b", "/a/b"},            {"", ""},      {"/a/b/..", "/a/"},
  };
  for (const auto& c : cases) EXPECT_EQ(RemoveDotSegments(c.first), c.second) << c.first;
}

}  // namespace
