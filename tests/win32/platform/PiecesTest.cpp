// Work split across the thread pool: every item exactly once, whatever the
// range's length against the piece size, nothing after the call returns, and
// other threads really taking part on a machine of several processors.
#include "platform/Pieces.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

struct TCounts {
  explicit TCounts(size_t count) : hits(new std::atomic<int>[count]()), size(count) {}
  std::unique_ptr<std::atomic<int>[]> hits;
  size_t size;
  std::atomic<int> calls{0};
  std::atomic<bool> outOfRange{false};
};

void Count(void* context, size_t begin, size_t end)
{
  TCounts* counts = static_cast<TCounts*>(context);
  ++counts->calls;
  if (begin >= end || end > counts->size) counts->outOfRange = true;
  for (size_t i = begin; i < end && i < counts->size; ++i) ++counts->hits[i];
}

bool SeveralProcessors()
{
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 1;
}

}  // namespace

TEST(Pieces, EveryItemOnceForEveryShapeOfRange)
{
  const size_t piece = 1000;
  // On one processor the caller works through the range in one call.
  for (size_t count : {size_t{1}, piece - 1, piece, piece + 1, 2 * piece, 7 * piece + 3, 64 * piece}) {
    TCounts counts(count);
    RunInPieces(count, piece, Count, &counts);
    EXPECT_FALSE(counts.outOfRange) << count;
    EXPECT_EQ(SeveralProcessors() ? static_cast<int>((count + piece - 1) / piece) : 1, counts.calls.load()) << count;
    size_t wrong = 0;
    for (size_t i = 0; i < count; ++i) wrong += counts.hits[i] != 1;
    EXPECT_EQ(0u, wrong) << count;
  }
  // No items, no call; a piece size of zero is one piece.
  TCounts none(1);
  RunInPieces(0, piece, Count, &none);
  EXPECT_EQ(0, none.calls.load());
  TCounts whole(5000);
  RunInPieces(5000, 0, Count, &whole);
  EXPECT_EQ(1, whole.calls.load());
}

// Helpers that start late find nothing left: the counts kept on the heap stay
// as they were when the call returned.
TEST(Pieces, NoWorkAfterTheCallReturns)
{
  auto counts = std::make_shared<TCounts>(200);
  for (int round = 0; round < 50; ++round) RunInPieces(200, 1, Count, counts.get());
  const int calls = counts->calls.load();
  EXPECT_EQ(SeveralProcessors() ? 50 * 200 : 50, calls);
  Sleep(200);
  EXPECT_EQ(calls, counts->calls.load());
}

TEST(Pieces, OtherThreadsTakePiecesOnSeveralProcessors)
{
  if (!SeveralProcessors()) GTEST_SKIP() << "one processor: the caller works alone";
  const DWORD caller = GetCurrentThreadId();
  std::atomic<bool> helped{false};
  // The caller's first piece waits (at most 10 s) for another thread to take
  // one, so the result does not depend on which thread is quicker.
  auto work = [&](size_t, size_t) {
    if (GetCurrentThreadId() != caller) {
      helped = true;
      return;
    }
    for (int i = 0; i < 1000 && !helped; ++i) Sleep(10);
  };
  RunInPieces(16, 1, work);
  EXPECT_TRUE(helped);
}

namespace {

size_t WorkingSet()
{
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

constexpr size_t DeepFrame = 512 * 1024;

// Writes a pattern to a frame of half a megabyte and reads it back.
__attribute__((noinline)) bool UseDeepStack(unsigned char seed)
{
  volatile unsigned char frame[DeepFrame];
  for (size_t i = 0; i < DeepFrame; ++i) frame[i] = static_cast<unsigned char>(seed + i);
  for (size_t i = 0; i < DeepFrame; ++i)
    if (frame[i] != static_cast<unsigned char>(seed + i)) return false;
  return true;
}

struct TStackRun {
  bool firstUse = false;
  size_t before = 0;
  size_t after = 0;
  bool secondUse = false;
};

DWORD WINAPI GiveBackThenUseAgain(void* context)
{
  TStackRun* run = static_cast<TStackRun*>(context);
  run->firstUse = UseDeepStack(1);
  run->before = WorkingSet();
  GiveBackUnusedStack();
  run->after = WorkingSet();
  run->secondUse = UseDeepStack(7);
  return 0;
}

}  // namespace

// Half a megabyte written deep in a thread's stack is handed back, and the
// stack still works after it, down to the same depth.
TEST(Pieces, UnusedStackIsHandedBackAndStaysUsable)
{
  TStackRun run;
  HANDLE thread = CreateThread(nullptr, 2 * 1024 * 1024, GiveBackThenUseAgain, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(run.firstUse);
  EXPECT_TRUE(run.secondUse);
  EXPECT_LT(run.after + DeepFrame / 2, run.before) << "before " << run.before << ", after " << run.after;
}
