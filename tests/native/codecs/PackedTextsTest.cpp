#include "codecs/PackedTexts.h"

#include <gtest/gtest.h>

#include <string>

// Texts come back exactly as added, in order, whatever they hold: empty ones,
// NULs, and enough of them that the block moves as it grows.
TEST(PackedTexts, TextsComeBackAsAddedThroughGrowth) {
  TPackedTexts texts;
  EXPECT_TRUE(texts.Empty());
  const std::string withNul("a\0b", 3);
  texts.Add("");
  texts.Add(withNul);
  texts.Add("Not Available");
  for (int i = 0; i < 10000; ++i) texts.Add(std::string(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26)));
  texts.Add("");
  ASSERT_EQ(10004u, texts.Count());
  EXPECT_EQ("", texts[0]);
  EXPECT_EQ(withNul, texts[1]);
  EXPECT_EQ("Not Available", texts[2]);
  size_t wrong = 0;
  for (int i = 0; i < 10000; ++i)
    wrong += texts[static_cast<size_t>(i) + 3] != std::string(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
  EXPECT_EQ(0u, wrong);
  EXPECT_EQ("", texts[10003]);

  texts.Clear();
  EXPECT_TRUE(texts.Empty());
  texts.Add("again");
  ASSERT_EQ(1u, texts.Count());
  EXPECT_EQ("again", texts[0]);
}
