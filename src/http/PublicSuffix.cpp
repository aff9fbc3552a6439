#include "http/PublicSuffix.h"

#include <string>

#include "PublicSuffixRules.inc"  // kPublicSuffixRules: sorted rules, one a line

namespace {

// Whether the rule is a line of kPublicSuffixRules. The lines are sorted by
// bytes, so the text is bisected in place: no index to build or keep.
bool ListHas(std::string_view rule) {
  const std::string_view rules(kPublicSuffixRules, sizeof kPublicSuffixRules - 1);
  size_t low = 0, high = rules.size();
  // Every pass drops at least the line it looked at.
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const size_t begin = middle == 0 ? 0 : rules.rfind('\n', middle - 1) + 1;  // npos + 1 is 0
    const size_t end = rules.find('\n', middle);
    const int order = rule.compare(rules.substr(begin, end - begin));
    if (order == 0) return true;
    if (order < 0) {
      high = begin;
    } else {
      low = end + 1;
    }
  }
  return false;
}

}  // namespace

bool IsPublicSuffix(std::string_view domain) {
  // The list's algorithm: an exception rule ("!city.kobe.jp") wins; then a
  // rule naming the domain itself, or a wildcard over its parent
  // ("*.kobe.jp"); a single label matches the implied rule "*".
  if (ListHas("!" + std::string(domain))) return false;
  if (ListHas(domain)) return true;
  const size_t dot = domain.find('.');
  if (dot == std::string_view::npos) return true;
  return ListHas("*." + std::string(domain.substr(dot + 1)));
}
