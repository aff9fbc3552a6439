#include "codecs/MemoryStream.h"

#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// A body announced by its length but reserved only in part grows in steps
// that stop at that length: no doubling past it, no second copy for a rest.
TEST(MemoryStream, GrowthStopsAtTheExpectedSize) {
  const int64_t announced = 32 * 1024 * 1024 + 14;
  TMemoryStream stream;
  stream.Reserve(16 * 1024 * 1024);
  stream.SetExpectedSize(announced);
  int grows = 0;
  size_t capacity = stream.Capacity();
  for (int64_t size = 0; size < announced;) {
    size = std::min<int64_t>(size + 65536, announced);
    stream.SetSize(size);
    if (stream.Capacity() != capacity) ++grows, capacity = stream.Capacity();
  }
  EXPECT_EQ(1, grows);
  EXPECT_EQ(static_cast<size_t>(announced), stream.Capacity());

  // The announced size is a hint, not a bound: more bytes still fit, and a
  // stream cleared forgets it.
  stream.SetSize(announced + 1);
  EXPECT_EQ(announced + 1, stream.Size());
  stream.Clear();
  stream.Write(std::string(5000, 'x'));
  EXPECT_EQ(8192u, stream.Capacity());
}

// Room reserved on a peer's word and never filled is given back; the room
// geometric growth leaves is not (giving it back would cost a copy).
TEST(MemoryStream, UnfilledReservationIsGivenBack) {
  TMemoryStream announced;
  announced.Reserve(8 * 1024 * 1024);
  announced.Write(std::string(10, 'x'));
  announced.ReleaseUnusedRoom();
  EXPECT_LT(announced.Capacity(), 1024u * 1024u);
  EXPECT_EQ("xxxxxxxxxx", announced.ToString());

  TMemoryStream grown;
  grown.Write(std::string(3 * 1024 * 1024, 'y'));  // capacity doubled to 4 MiB
  const size_t capacity = grown.Capacity();
  grown.ReleaseUnusedRoom();
  EXPECT_EQ(capacity, grown.Capacity());
}

// A file that exists is written over and cut to size: it ends up holding the
// stream's bytes and nothing of what it held before, longer or shorter.
TEST(MemoryStream, SaveToFileReplacesWhatTheFileHeld) {
  const std::string name = "memorystream_save.bin";
  auto contents = [&] {
    std::string data;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.append(buffer, n);
      std::fclose(f);
    }
    return data;
  };
  std::remove(name.c_str());
  TMemoryStream longer;
  longer.Write(std::string(10000, 'a') + std::string("\0b", 2));
  longer.SaveToFile(name);
  EXPECT_EQ(std::string(10000, 'a') + std::string("\0b", 2), contents());

  TMemoryStream shorter;
  shorter.Write(std::string("xyz"));
  shorter.SaveToFile(name);
  EXPECT_EQ("xyz", contents());

  TMemoryStream empty;
  empty.SaveToFile(name);
  EXPECT_EQ("", contents());
  longer.SaveToFile(name);
  EXPECT_EQ(10002u, contents().size());
  std::remove(name.c_str());

  EXPECT_THROW(shorter.SaveToFile("no-such-folder/x.bin"), EInOutError);
}
