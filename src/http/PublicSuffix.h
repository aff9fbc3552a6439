// Public suffixes: the names under which anyone can register a domain of
// their own ("com", "co.uk", "github.io"), so that no site may set a cookie
// for all of them. Answered from the public suffix list, built into the
// program as data (scripts/make-public-suffixes.py); unlisted top-level
// names count as public suffixes too.
#pragma once

#include <string_view>

// Whether the domain (lower case, no leading or trailing dot; non-ASCII
// labels in their "xn--" form) is a public suffix itself.
bool IsPublicSuffix(std::string_view domain);
