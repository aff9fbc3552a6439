// Work over a long range of memory shared with the system's thread pool.
// Making a result of tens of megabytes is mostly the first write to each of
// its fresh pages, which costs the same whatever code makes it; spread over
// the processors, it takes a fraction of the time.
#pragma once

#include <cstddef>

// Writes or reads items [begin, end) of the caller's range. Must not throw.
using TPieceWork = void (*)(void* context, size_t begin, size_t end);

// Calls work on pieces of at most pieceSize items until [0, count) is done,
// each item once. The calling thread takes pieces as well, so the work gets
// done even when no other thread ever starts; it returns once every piece is
// done, and no call of work comes after that. A range of one piece, or a
// machine of one processor, is worked through on the calling thread alone,
// as is any range when no event or memory for the helpers can be had: it
// never throws.
void RunInPieces(size_t count, size_t pieceSize, TPieceWork work, void* context);

// The same for a callable taking (begin, end).
template <class TWork>
void RunInPieces(size_t count, size_t pieceSize, TWork& work)
{
  RunInPieces(count, pieceSize,
              [](void* context, size_t begin, size_t end) { (*static_cast<TWork*>(context))(begin, end); },
              &work);
}

// Hands back to the system the pages of the calling thread's stack that lie
// well below the caller's frame, which the thread is not using: each helper
// does so before its first piece. The stack stays usable; pages it grows into
// again come back fresh.
void GiveBackUnusedStack();

// Pieces of this size keep every processor busy on a result of a few
// megabytes, and each costs far more than handing it to another thread.
constexpr size_t PieceBytes = 1 << 20;
