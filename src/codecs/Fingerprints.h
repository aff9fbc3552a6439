// Lists of SHA-256 certificate fingerprints as people copy them from tools:
// 64 hexadecimal digits in either case, with blanks and colons anywhere
// inside, several separated by commas or semicolons.
#pragma once

#include <string>
#include <vector>

// The 32-byte digests the list names, in its order. An entry of blanks only
// (such as after a final separator) names none. False for an entry that is
// not a fingerprint: BadEntry is then that entry without its outer blanks
// (and control characters),
// and Digests is left as it was.
bool ParseFingerprintList(const std::string& Text, std::vector<std::string>& Digests, std::string& BadEntry);
