#include "codecs/UrlReference.h"

namespace {

bool IsSchemeChar(char c, bool first) {
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (first) return letter;
  return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The length of the reference's scheme, 0 when it has none: letters, digits,
// "+", "-" and "." from a letter on, up to a ":" before any "/", "?" or "#".
size_t SchemeLength(std::string_view reference) {
  for (size_t i = 0; i < reference.size(); ++i) {
    const char c = reference[i];
    if (c == ':') return i;
    if (!IsSchemeChar(c, i == 0)) return 0;
  }
  return 0;
}

// Section 5.2.3: the reference's path after the base's last "/"; "/" and
// the path when the base has an authority and an empty path.
std::string MergePaths(const TUrlComponents& base, const std::string& path) {
  if (base.HasAuthority && base.Path.empty()) return "/" + path;
  const size_t slash = base.Path.rfind('/');
  return slash == std::string::npos ? path : base.Path.substr(0, slash + 1) + path;
}

}  // namespace

TUrlComponents SplitUrlReference(std::string_view reference) {
  TUrlComponents parts;
  std::string_view rest = reference;
  const size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    parts.HasFragment = true;
    parts.Fragment = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    parts.HasQuery = true;
    parts.Query = rest.substr(question + 1);
    rest = rest.substr(0, question);
  }
  const size_t scheme = SchemeLength(rest);
  if (scheme > 0) {
    parts.HasScheme = true;
    parts.Scheme = rest.substr(0, scheme);
    rest = rest.substr(scheme + 1);
  }
  if (rest.substr(0, 2) == "//") {
    rest = rest.substr(2);
    const size_t slash = rest.find('/');
    parts.HasAuthority = true;
    parts.Authority = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  parts.Path = rest;
  return parts;
}

std::string JoinUrlComponents(const TUrlComponents& parts) {
  std::string out;
  if (parts.HasScheme) out += parts.Scheme + ":";
  if (parts.HasAuthority) out += "//" + parts.Authority;
  out += parts.Path;
  if (parts.HasQuery) out += "?" + parts.Query;
  if (parts.HasFragment) out += "#" + parts.Fragment;
  return out;
}

std::string RemoveDotSegments(std::string_view path) {
  std::string_view in = path;
  std::string out;
  const auto startsWith = [&in](std::string_view prefix) { return in.substr(0, prefix.size()) == prefix; };
  // Each pass takes a prefix off the input (rules A to E of section 5.2.4),
  // so the loop ends after at most as many passes as the path has bytes.
  while (!in.empty()) {
    if (startsWith("../")) {
      in.remove_prefix(3);
    } else if (startsWith("./") || startsWith("/./")) {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (startsWith("/../") || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      const size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = std::string_view();
    } else {
      const size_t next = in.find('/', 1);
      const size_t length = next == std::string_view::npos ? in.size() : next;
      out.append(in.substr(0, length));
      in.remove_prefix(length);
    }
  }
  return out;
}

std::string ResolveUrlReference(std::string_view base, std::string_view reference) {
  const TUrlComponents b = SplitUrlReference(base);
  const TUrlComponents r = SplitUrlReference(reference);
  TUrlComponents t;
  if (r.HasScheme) {
    t = r;
    t.Path = RemoveDotSegments(r.Path);
  } else {
    t.HasScheme = b.HasScheme;
    t.Scheme = b.Scheme;
    if (r.HasAuthority) {
      t.HasAuthority = true;
      t.Authority = r.Authority;
      t.Path = RemoveDotSegments(r.Path);
      t.HasQuery = r.HasQuery;
      t.Query = r.Query;
    } else {
      t.HasAuthority = b.HasAuthority;
      t.Authority = b.Authority;
      if (r.Path.empty()) {
        t.Path = b.Path;
        t.HasQuery = r.HasQuery || b.HasQuery;
        t.Query = r.HasQuery ? r.Query : b.Query;
      } else {
        t.Path = RemoveDotSegments(r.Path[0] == '/' ? r.Path : MergePaths(b, r.Path));
        t.HasQuery = r.HasQuery;
        t.Query = r.Query;
      }
    }
  }
  t.HasFragment = r.HasFragment;
  t.Fragment = r.Fragment;
  return JoinUrlComponents(t);
}
