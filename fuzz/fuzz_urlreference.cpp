// Fuzzes the resolution of redirect targets and the fingerprint lists. The
// input is a base URL, a line end and a reference. For every input:
// - splitting a reference and joining its components gives it back;
// - an absolute path loses every "." and ".." segment, keeps its leading
//   "/", never grows, and a second pass changes nothing;
// - a target that starts with "/" of the same server keeps the base's
//   scheme and authority; an empty reference gives the base without fragment;
// - a fingerprint list either parses into 32-byte digests or names an entry
//   of the input.
#include "FuzzSupport.h"
#include "codecs/Fingerprints.h"
#include "codecs/UrlReference.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool HasDotSegment(const std::string& path) {
  size_t start = 0;
  for (;;) {  // one pass per segment
    const size_t end = path.find('/', start);
    const std::string segment = path.substr(start, end == std::string::npos ? end : end - start);
    if (segment == "." || segment == "..") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t newline = text.find('\n');
  const std::string base = "http://h" + text.substr(0, newline);
  const std::string reference = newline == std::string::npos ? std::string() : text.substr(newline + 1);

  Check(JoinUrlComponents(SplitUrlReference(reference)) == reference, "split and join changed a reference");

  // An absolute path (a "//" at its start would name a server instead).
  const std::string path = "/x/" + reference;
  const std::string clean = RemoveDotSegments(path);
  Check(!clean.empty() && clean[0] == '/', "an absolute path lost its root");
  Check(clean.size() <= path.size(), "removing dot segments made the path longer");
  Check(!HasDotSegment(clean), "a dot segment is left");
  Check(RemoveDotSegments(clean) == clean, "a second pass changed the path");

  const TUrlComponents b = SplitUrlReference(base);
  const TUrlComponents t = SplitUrlReference(ResolveUrlReference(base, path));
  Check(t.Scheme == b.Scheme && t.HasAuthority == b.HasAuthority && t.Authority == b.Authority,
        "a path reference left the base's server");
  TUrlComponents unfragmented = b;
  unfragmented.HasFragment = false;
  unfragmented.Fragment.clear();
  const std::string self = ResolveUrlReference(base, "");
  Check(self == JoinUrlComponents(unfragmented) || HasDotSegment(b.Path), "an empty reference is not the page");

  std::vector<std::string> digests;
  std::string bad;
  if (ParseFingerprintList(text, digests, bad)) {
    for (const std::string& digest : digests) Check(digest.size() == 32, "a digest is not 32 bytes");
  } else {
    Check(!bad.empty() && text.find(bad) != std::string::npos, "the bad entry is not one of the input");
  }
  return 0;
}
