#include "platform/Pieces.h"

#include "platform/ThisModule.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

// Threads beyond a few add little: the pages' first writes then wait on the
// memory system rather than on a processor.
constexpr DWORD MaxHelpers = 3;

// Fixed for the life of the process: looked up once.
const SYSTEM_INFO& System()
{
  static const SYSTEM_INFO info = [] {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system;
  }();
  return info;
}

DWORD HelperCount()
{
  const DWORD processors = System().dwNumberOfProcessors;
  return std::min<DWORD>(processors > 0 ? processors - 1 : 0, MaxHelpers);
}

// Shared by the caller and its helpers; the last one to let go frees it. A
// helper that starts after the caller has returned finds no piece left and
// never touches work or context, which are the caller's.
struct TPieceRun {
  size_t count;
  size_t pieceSize;
  LONG pieces;
  TPieceWork work;
  void* context;
  HANDLE allDone;  // manual reset, set when the last piece is done
  HMODULE module;  // this module: each helper holds a reference to it and hands it back
  volatile LONG next = 0;
  volatile LONG done = 0;
  volatile LONG references = 1;
};

void Release(TPieceRun* run)
{
  if (InterlockedDecrement(&run->references) != 0) return;
  CloseHandle(run->allDone);
  delete run;
}

void TakePieces(TPieceRun* run)
{
  for (;;) {
    const LONG piece = InterlockedIncrement(&run->next) - 1;
    if (piece >= run->pieces) return;
    const size_t begin = static_cast<size_t>(piece) * run->pieceSize;
    run->work(run->context, begin, std::min(run->count, begin + run->pieceSize));
    if (InterlockedIncrement(&run->done) == run->pieces) SetEvent(run->allDone);
  }
}

// Room below this frame left for the calls that give the rest back.
constexpr uintptr_t StackMargin = 64 * 1024;

}  // namespace

// Some systems start every thread with the top megabyte of its stack written
// with zeros: a pool thread sent for one conversion would hold that much memory
// for its whole life, at the very moment the conversion's result is largest.
// Below this frame, with a margin for the calls made from here, the pool
// thread's stack is unused: its pages are handed back, and come back as fresh
// pages if the stack ever grows there again.
void GiveBackUnusedStack()
{
  volatile char frame = 0;
  const uintptr_t page = System().dwPageSize;
  const uintptr_t here = reinterpret_cast<uintptr_t>(&frame);
  // The stack is one reservation: from its start up to the margin below this
  // frame, only committed, writable pages can be reset; guard pages and room
  // never committed are left alone.
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(const_cast<char*>(&frame), &info, sizeof info)) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(info.AllocationBase);
  if (here < start + StackMargin) return;
  const uintptr_t top = (here - StackMargin) & ~(page - 1);
  for (uintptr_t at = start; at < top;) {
    if (!VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info)) return;
    const uintptr_t end = std::min<uintptr_t>(top, reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize);
    if (end <= at) return;
    if (info.State == MEM_COMMIT && info.Protect == PAGE_READWRITE) {
      void* base = reinterpret_cast<void*>(at);
      VirtualAlloc(base, end - at, MEM_RESET, PAGE_NOACCESS);
      // Unlocking pages that are not locked takes them out of the working set.
      VirtualUnlock(base, end - at);
    }
    at = end;
  }
}

namespace {

void CALLBACK Helper(PTP_CALLBACK_INSTANCE instance, void* context)
{
  TPieceRun* run = static_cast<TPieceRun*>(context);
  // The module stays loaded until this callback has returned.
  FreeLibraryWhenCallbackReturns(instance, run->module);
  GiveBackUnusedStack();
  TakePieces(run);
  Release(run);
}

}  // namespace

void RunInPieces(size_t count, size_t pieceSize, TPieceWork work, void* context)
{
  if (count == 0) return;
  if (pieceSize == 0 || pieceSize >= count || HelperCount() == 0 || (count - 1) / pieceSize >= MAXLONG) {
    work(context, 0, count);
    return;
  }
  const LONG pieces = static_cast<LONG>((count - 1) / pieceSize + 1);
  HANDLE allDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Short of either, the work is still done, here.
  TPieceRun* run = allDone ? new (std::nothrow) TPieceRun{count, pieceSize, pieces, work, context, allDone, ThisModule()}
                           : nullptr;
  if (!run) {
    if (allDone) CloseHandle(allDone);
    work(context, 0, count);
    return;
  }
  const DWORD wanted = std::min<DWORD>(HelperCount(), static_cast<DWORD>(pieces - 1));
  for (DWORD i = 0; i < wanted && AddModuleReference(); ++i) {
    InterlockedIncrement(&run->references);
    if (!TrySubmitThreadpoolCallback(Helper, run, nullptr)) {
      InterlockedDecrement(&run->references);
      FreeLibrary(run->module);
      break;
    }
  }
  TakePieces(run);
  // Every piece is taken; what is left to wait for is at most one piece on
  // each helper that took one, already under way.
  if (run->done != run->pieces) WaitForSingleObject(run->allDone, INFINITE);
  Release(run);
}
