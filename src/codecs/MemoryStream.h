// TMemoryStream: a growable in-memory byte stream with a size and a position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TMemoryStream {
public:
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const { return position_; }
  void SetPosition(int64_t pos);
  // Changes the size; the position is kept inside the new size.
  void SetSize(int64_t size);
  void Clear();
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

  // Writes the whole content to a file; throws EInOutError "Cannot create file
  // <name>", also for a name that holds a NUL.
  void SaveToFile(const std::string& fileName) const;

private:
  // Makes room for needed bytes: doubling, bounded by the expected size.
  void Grow(size_t needed);

  std::vector<char> data_;
  int64_t position_ = 0;
  int64_t expected_ = 0;
};
