#include "codecs/Fingerprints.h"

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
