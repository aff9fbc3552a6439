#include "codecs/MemoryStream.h"

#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

  // The texts a script reads in Error: a file that cannot be made, and one
  // whose bytes do not all land (a full disk, which /dev/full always is).
  std::vector<std::pair<std::string, std::string>> failures = {
      {"no-such-folder/x.bin", "Cannot create file no-such-folder/x.bin"},
#ifdef __linux__
      {"/dev/full", "Cannot write file /dev/full"},
#endif
  };
  for (const auto& failure : failures) {
    try {
      longer.SaveToFile(failure.first);
      ADD_FAILURE() << failure.first << " was written";
    } catch (const EInOutError& e) {
      EXPECT_EQ(failure.second, e.Message());
    }
  }
}

// A stream emptied for the next body keeps its room, yet nothing of the last
// body shows through: grown bytes are zero and a receive's unfilled room is cut.
TEST(MemoryStream, ReusedRoomNeverShowsTheLastContent) {
  TMemoryStream stream;
  stream.Write(std::string(100000, 'x'));
  const size_t room = stream.Capacity();
  stream.ClearKeepingRoom();
  EXPECT_EQ(0, stream.Size());
  EXPECT_EQ(0, stream.Position());
  EXPECT_EQ(room, stream.Capacity());

  char* free = stream.Extend(1000);
  memcpy(free, "abc", 3);
  stream.SetSize(3);  // what a receive of 3 bytes into 1000 leaves
  EXPECT_EQ("abc", stream.ToString());
  EXPECT_EQ(room, stream.Capacity()) << "no fresh memory for the reused room";

  stream.SetSize(6);
  EXPECT_EQ(std::string("abc\0\0\0", 6), stream.ToString());
  stream.SetPosition(8);
  stream.Write("z", 1);  // the gap before a write past the end reads as zeros
  EXPECT_EQ(std::string("abc\0\0\0\0\0z", 9), stream.ToString());

  // An empty stream that needs more room gives the old back first.
  stream.ClearKeepingRoom();
  stream.Reserve(static_cast<int64_t>(room) * 4);
  EXPECT_GE(stream.Capacity(), room * 4);
  EXPECT_EQ(0, stream.Size());
}
