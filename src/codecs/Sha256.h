// SHA-256 (FIPS 180-4), for the fingerprints of server certificates: plain
// C++, so that the platform's hash providers, which differ between systems,
// are not needed for it.
#pragma once

#include <string>
#include <string_view>

// The 32 bytes of the digest of Data.
std::string Sha256(std::string_view Data);
