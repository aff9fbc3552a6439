// TMemoryStream: a growable in-memory byte stream with a size and a position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

class TMemoryStream {
public:
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const { return position_; }
  void SetPosition(int64_t pos);
  // Changes the size; bytes added are zero. The position is kept inside the
  // new size.
  void SetSize(int64_t size);
  // Adds count bytes at the end, left as they are for the caller to fill
  // (a receive writes them, then SetSize cuts what it did not fill); returns
  // where they start. Throws EOutOfResources when memory runs out.
  char* Extend(size_t count);
  void Clear();
  // Empty, the expected size forgotten, but the room kept for the next
  // content: memory the process has filled once costs far less to fill again
  // than fresh memory, which the system hands over a page at a time.
  void ClearKeepingRoom();
  // Makes room for size bytes without changing the size: a hint, so a failure
  // to get the memory now is not an error (writing may still fail later).
  void Reserve(int64_t size);
  // The size the stream is expected to reach (a peer's announced length, not
  // yet proof): growth steps stop there rather than doubling far past it,
  // without reserving it ahead. Clear forgets it.
  void SetExpectedSize(int64_t size) { expected_ = size; }
  size_t Capacity() const { return data_.capacity(); }
  // Gives back room reserved beyond the size, when it is more than the size
  // itself and more than a megabyte (a reservation the bytes never filled);
  // the room that geometric growth leaves is kept.
  void ReleaseUnusedRoom();

  // Writes at the position, growing the stream geometrically as needed.
  // Throws EOutOfResources when memory runs out.
  void Write(const void* buffer, size_t count);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Reads up to count bytes from the position; returns the bytes read.
  size_t Read(void* buffer, size_t count);

  const char* Memory() const { return data_.data(); }
  char* Memory() { return data_.data(); }
  std::string ToString() const { return std::string(data_.begin(), data_.end()); }

  // Writes the whole content to the file named (in UTF-8); throws EInOutError
  // "Cannot create file <name>", also for a name that holds a NUL.
  void SaveToFile(const std::string& fileName) const;

private:
  // Makes room for needed bytes: doubling, bounded by the expected size.
  void Grow(size_t needed);

  // Grown bytes are left uninitialised (SetSize zeroes its own): a receive
  // would only write over them again.
  struct TUninitialised : std::allocator<char> {
    template <typename U>
    struct rebind {
      using other = TUninitialised;
    };
    void construct(char* p) { ::new (static_cast<void*>(p)) char; }
    void construct(char* p, char value) { *p = value; }
  };

  void ReplaceRoom(size_t capacity);
  // Grows the storage to size bytes, new bytes uninitialised.
  void Resize(size_t size);

  std::vector<char, TUninitialised> data_;
  int64_t position_ = 0;
  int64_t expected_ = 0;
};
