// Resolving a URL reference (a redirect's Location) against the URL of the
// page that sent it, as RFC 3986 section 5 does: relative paths merge with
// the base's directory, "." and ".." segments go, a query-only reference
// keeps the base's path, "//host/path" keeps the base's scheme. Byte-wise:
// nothing is decoded or encoded on the way.
#pragma once

#include <string>
#include <string_view>

// The five components of a URL reference (RFC 3986 appendix B). A component
// that is absent differs from one that is present and empty ("a?" has an
// empty query, "a" none).
struct TUrlComponents {
  std::string Scheme, Authority, Path, Query, Fragment;
  bool HasScheme = false, HasAuthority = false, HasQuery = false, HasFragment = false;
};

TUrlComponents SplitUrlReference(std::string_view reference);
std::string JoinUrlComponents(const TUrlComponents& parts);

// The path without its "." and ".." segments (section 5.2.4); ".." never
// climbs above the root.
std::string RemoveDotSegments(std::string_view path);

// The target URL of Reference read against the absolute URL Base (strict
// resolution of section 5.2.2: a reference with a scheme is absolute even
// when the scheme is the base's).
std::string ResolveUrlReference(std::string_view base, std::string_view reference);
