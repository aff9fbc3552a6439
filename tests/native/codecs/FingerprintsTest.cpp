#include "codecs/Fingerprints.h"
#include "codecs/Sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[c & 15];
  }
  return out;
}

// FIPS 180-4 examples and the block boundaries of the padding (55, 56, 64 bytes).
TEST(Sha256, KnownDigests) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(Sha256(c.first)), c.second) << c.first.size() << " bytes";
}

const std::string Abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct ListCase {
  std::string text;
  std::vector<std::string> digests;  // hex; when bad is empty
  std::string bad;                   // the entry named, "" when the list is good
};

TEST(Fingerprints, ParsesListsAsPeopleCopyThem) {
  std::string colons, upper;
  for (size_t i = 0; i < Abc.size(); i += 2) colons += (i ? ":" : "") + Abc.substr(i, 2);
  for (const char c : Abc) upper += static_cast<char>(toupper(c));
  const std::string zeros(64, '0');
  const ListCase cases[] = {
      {"", {}, ""},
      {" ; , ", {}, ""},
      {Abc, {Abc}, ""},
      {upper, {Abc}, ""},
      {colons, {Abc}, ""},
      {"  BA 78 16 bf:8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\t", {Abc}, ""},
      {Abc + "," + zeros + ";", {Abc, zeros}, ""},
      {zeros + " ;\r\n" + colons, {zeros, Abc}, ""},
      {Abc.substr(1), {}, Abc.substr(1)},
      {Abc + "0", {}, Abc + "0"},
      {Abc + ", nothing here ,", {}, "nothing here"},
      {"g" + Abc.substr(1), {}, "g" + Abc.substr(1)},
      {zeros + "-" + zeros, {}, zeros + "-" + zeros},
      {":", {}, ":"},
  };
  for (const ListCase& c : cases) {
    std::vector<std::string> digests = {"kept"};
    std::string bad;
    const bool good = ParseFingerprintList(c.text, digests, bad);
    EXPECT_EQ(good, c.bad.empty()) << c.text;
    if (good) {
      std::vector<std::string> hex;
      for (const std::string& digest : digests) hex.push_back(Hex(digest));
      EXPECT_EQ(hex, c.digests) << c.text;
    } else {
      EXPECT_EQ(bad, c.bad) << c.text;
      EXPECT_EQ(digests, std::vector<std::string>{"kept"}) << c.text;
    }
  }
}

}  // namespace
