#include "codecs/Entities.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

TEST(EntityTable, HasTheSeventyTwoEntriesInOrder) {
  ASSERT_EQ(EntityCount, 72);
  EXPECT_STREQ(EntityTable[0].name, "gt");
  EXPECT_EQ(EntityTable[0].code, 62);
  EXPECT_STREQ(EntityTable[8].name, "nbsp");
  EXPECT_EQ(EntityTable[8].code, 32);
  EXPECT_STREQ(EntityTable[10].name, "emdash");
  EXPECT_EQ(EntityTable[10].code, 45);
  EXPECT_STREQ(EntityTable[34].name, "eth");
  EXPECT_EQ(EntityTable[34].code, 240);
  EXPECT_STREQ(EntityTable[42].name, "Aacute");
  EXPECT_EQ(EntityTable[42].code, 193);
  EXPECT_STREQ(EntityTable[71].name, "yuml");
  EXPECT_EQ(EntityTable[71].code, 255);
  std::set<std::string> names;
  for (const auto& e : EntityTable) {
    EXPECT_LE(strlen(e.name), 10u);
    names.insert(e.name);
  }
  EXPECT_EQ(names.size(), 72u);
  EXPECT_EQ(names.count("ETH"), 0u);
}

TEST(DecodeEntity, Named) {
  TDecodedEntity e = DecodeEntity("x&lt;y", 2);
  EXPECT_TRUE(e.found);
  EXPECT_FALSE(e.numeric);
  EXPECT_EQ(e.length, 4);
  EXPECT_EQ(e.character, '<');
  EXPECT_EQ(e.name, "lt");

  e = DecodeEntity("&ampx", 1);  // no terminator needed
  EXPECT_TRUE(e.found);
  EXPECT_EQ(e.length, 4);
  EXPECT_EQ(e.name, "amp");

  e = DecodeEntity("&eacute;", 1);
  EXPECT_EQ(e.character, '\xE9');
  EXPECT_EQ(e.length, 8);
}

TEST(DecodeEntity, NamesAreCaseSensitiveAndWholeNamesOnly) {
  EXPECT_FALSE(DecodeEntity("&AMP;", 1).found);
  EXPECT_FALSE(DecodeEntity("&am", 1).found);  // text shorter than the name
  EXPECT_FALSE(DecodeEntity("&", 1).found);
  EXPECT_FALSE(DecodeEntity("&ETH;", 1).found);
  TDecodedEntity e = DecodeEntity("&THORN;", 1);
  EXPECT_EQ(static_cast<unsigned char>(e.character), 222);
  e = DecodeEntity("&thorn", 1);
  EXPECT_EQ(static_cast<unsigned char>(e.character), 254);
  EXPECT_EQ(e.length, 6);
}

TEST(DecodeEntity, Numeric) {
  TDecodedEntity e = DecodeEntity("&#65;", 1);
  EXPECT_TRUE(e.found);
  EXPECT_TRUE(e.numeric);
  EXPECT_EQ(e.length, 5);
  EXPECT_EQ(e.character, 'A');
  EXPECT_EQ(e.name, "");

  e = DecodeEntity("&#66", 1);
  EXPECT_TRUE(e.found);
  EXPECT_EQ(e.length, 4);

  e = DecodeEntity("ab&#0067;z", 3);
  EXPECT_EQ(e.character, 'C');
  EXPECT_EQ(e.length, 7);
}

TEST(DecodeEntity, NumericPast255KeepsTheLowEightBits) {
  EXPECT_EQ(DecodeEntity("&#321;", 1).character, 'A');   // 321 = 256 + 65
  EXPECT_EQ(DecodeEntity("&#256;", 1).character, '\0');
  EXPECT_EQ(static_cast<unsigned char>(DecodeEntity("&#8364;", 1).character), 0xAC);
  TDecodedEntity e = DecodeEntity("&#2147483647;", 1);  // largest 32-bit value
  EXPECT_TRUE(e.found);
  EXPECT_EQ(static_cast<unsigned char>(e.character), 0xFF);
  EXPECT_EQ(e.length, 13);
}

TEST(DecodeEntity, NumericThatDoesNotConvertIsNotFound) {
  EXPECT_FALSE(DecodeEntity("&#;", 1).found);
  EXPECT_FALSE(DecodeEntity("&#", 1).found);
  EXPECT_FALSE(DecodeEntity("&#x41;", 1).found);
  EXPECT_FALSE(DecodeEntity("&#2147483648;", 1).found);  // beyond the signed range
  EXPECT_FALSE(DecodeEntity("&#99999999999999999999;", 1).found);
  EXPECT_FALSE(DecodeEntity("&#-1;", 1).found);
  EXPECT_FALSE(DecodeEntity("&#gt;", 1).found);  // "#" is never a named reference
}

TEST(DecodeEntity, EmptyTextAndMisuse) {
  EXPECT_FALSE(DecodeEntity("", 1).found);
  try {
    DecodeEntity("abc", 2);
    FAIL() << "no error";
  } catch (const EConvertError&) {
    FAIL() << "wrong class";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid HTML entity, must begin with &");
  }
  EXPECT_THROW(DecodeEntity("&", 0), Exception);
  EXPECT_THROW(DecodeEntity("&", 2), Exception);
}

TEST(DecodeEntities, SpecExamples) {
  EXPECT_EQ(DecodeEntities("&lt;b&gt;"), "<b>");
  EXPECT_EQ(DecodeEntities("&amp"), "&");
  EXPECT_EQ(DecodeEntities("&ampx"), "&x");
  EXPECT_EQ(DecodeEntities("&AMP;"), "&AMP;");
  EXPECT_EQ(DecodeEntities("&#65;&#66"), "AB");
  EXPECT_EQ(DecodeEntities("&#x41;"), "&#x41;");
  EXPECT_EQ(DecodeEntities("&nbsp;"), " ");
  EXPECT_EQ(DecodeEntities("&#321;"), "A");
  EXPECT_EQ(DecodeEntities("a & b"), "a & b");
  EXPECT_EQ(DecodeEntities(""), "");
}

TEST(DecodeEntities, MoreCases) {
  EXPECT_EQ(DecodeEntities("&&amp;&"), "&&&");
  EXPECT_EQ(DecodeEntities("&endash;&emdash;&ensp;&emsp;"), "--  ");
  EXPECT_EQ(DecodeEntities("&copy;&reg;"), "\xA9\xAE");
  EXPECT_EQ(DecodeEntities("&amp;lt;"), "&lt;");  // one pass only
}

TEST(EntityTable, LengthsAreTheNames) {
  for (const TEntityEntry& entry : EntityTable) EXPECT_EQ(entry.length, strlen(entry.name)) << entry.name;
}

TEST(DecodeEntities, FromAPositionInPlace) {
  std::string text = "&amp;head&lt;tail &gt; &#65&";
  DecodeEntitiesFrom(text, 9);
  EXPECT_EQ(text, "&amp;head<tail > A&");
  for (const std::string& sample : {std::string("a&amp;b&c"), std::string("&&amp;&"), std::string("plain"),
                                    std::string("x&#0;y"), std::string("&"), std::string()}) {
    for (size_t from = 0; from <= sample.size(); ++from) {
      std::string inPlace = sample;
      DecodeEntitiesFrom(inPlace, from);
      EXPECT_EQ(inPlace, sample.substr(0, from) + DecodeEntities(sample.substr(from))) << sample << " from " << from;
    }
  }
}

TEST(DecodeEntities, NulHandling) {
  EXPECT_EQ(DecodeEntities(std::string("a\0&lt;", 6)), std::string("a\0<", 3));
  EXPECT_EQ(DecodeEntities("x&#0;y"), std::string("x\0y", 3));
  EXPECT_EQ(DecodeEntities(std::string("&\0", 2)), std::string("&\0", 2));
}

// The Unicode form, for UTF-8 text: the real character, hexadecimal
// references too, and U+FFFD for a number that names no character.
TEST(DecodeEntities, UnicodeFormGivesTheRealCharacterInUtf8) {
  const struct {
    const char* text;
    const char* utf8;
  } cases[] = {
      {"&#8364;&#x20AC;&#X20ac", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"&eacute;&copy;&nbsp;&lt;", "\xC3\xA9\xC2\xA9 <"},          // the table's codes as code points
      {"&#321;&#65;", "\xC5\x81" "A"},                                // no cut to 8 bits
      {"&#128;&#x9F;&#x81;", "\xE2\x82\xAC\xC5\xB8\xC2\x81"},    // 128-159 as browsers read them
      {"&#0;&#xD800;&#x110000;&#99999999999999999999;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"&#x;&#;&#xg;", "&#x;&#;&#xg;"},                              // no digits: no reference
      {"&AMP; a & b", "&AMP; a & b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.utf8, DecodeEntities(c.text, TReferenceForm::Unicode)) << c.text;
    std::string inPlace = std::string("x") + c.text;
    DecodeEntitiesFrom(inPlace, 1, TReferenceForm::Unicode);
    EXPECT_EQ(std::string("x") + c.utf8, inPlace) << c.text;
  }
  const TDecodedEntity hex = DecodeEntity("&#x1F600;z", 1, TReferenceForm::Unicode);
  EXPECT_TRUE(hex.found);
  EXPECT_TRUE(hex.numeric);
  EXPECT_EQ(9, hex.length);
  EXPECT_EQ(0x1F600u, static_cast<unsigned>(hex.codePoint));
  // The 8-bit form stays as it was.
  EXPECT_FALSE(DecodeEntity("&#x20AC;", 1).found);
}

}  // namespace
