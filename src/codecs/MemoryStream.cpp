#include "codecs/MemoryStream.h"

#include "codecs/Exception.h"
#include "codecs/Files.h"

#include <cstdio>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

void TMemoryStream::SetPosition(int64_t pos) { position_ = pos < 0 ? 0 : pos; }

void TMemoryStream::Grow(size_t needed) {
  if (needed <= data_.capacity()) return;
  size_t cap = data_.capacity() < 4096 ? 4096 : data_.capacity();
  while (cap < needed) cap = cap > SIZE_MAX / 2 ? needed : cap * 2;
  const size_t expected = expected_ > 0 ? static_cast<size_t>(expected_) : 0;
  // Within reach of the expected size: take exactly that, so the last step
  // neither doubles past it nor leaves a small rest for one more copy.
  if (expected >= needed && (cap >= expected || expected - cap <= cap / 2)) cap = expected;
  ReplaceRoom(cap);
}

// An empty stream gives its old room back before it takes the new: the two
// are never held at once.
void TMemoryStream::ReplaceRoom(size_t capacity) {
  if (data_.empty()) decltype(data_)().swap(data_);
  data_.reserve(capacity);
}

void TMemoryStream::ReleaseUnusedRoom() {
  const size_t unused = data_.capacity() - data_.size();
  if (unused <= data_.size() || unused <= 1024 * 1024) return;
  try {
    decltype(data_)(data_.begin(), data_.end()).swap(data_);
  } catch (const std::exception&) {
    // Keeping the room is no failure.
  }
}

void TMemoryStream::Resize(size_t size) {
  try {
    Grow(size);
    data_.resize(size);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources("Out of memory");
  } catch (const std::length_error&) {
    throw EOutOfResources("Out of memory");
  }
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  const size_t old = data_.size();
  Resize(static_cast<size_t>(size));
  if (data_.size() > old) memset(data_.data() + old, 0, data_.size() - old);
  if (position_ > size) position_ = size;
}

char* TMemoryStream::Extend(size_t count) {
  const size_t old = data_.size();
  if (old + count < old) throw EOutOfResources("Out of memory");
  Resize(old + count);
  return data_.data() + old;
}

void TMemoryStream::Clear() {
  decltype(data_)().swap(data_);
  position_ = 0;
  expected_ = 0;
}

void TMemoryStream::ClearKeepingRoom() {
  data_.clear();
  position_ = 0;
  expected_ = 0;
}

void TMemoryStream::Reserve(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) <= data_.capacity()) return;
  try {
    ReplaceRoom(static_cast<size_t>(size));
  } catch (const std::exception&) {
    // Only a hint: growing as the bytes come stays possible.
  }
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  size_t end = static_cast<size_t>(position_) + count;
  if (end < count) throw EOutOfResources("Out of memory");
  // A gap between the end and the position reads as zeros.
  if (static_cast<size_t>(position_) > data_.size()) SetSize(position_);
  if (end > data_.size()) Resize(end);
  memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  size_t avail = static_cast<size_t>(Size() - position_);
  if (count > avail) count = avail;
  memcpy(buffer, data_.data() + position_, count);
  position_ += static_cast<int64_t>(count);
  return count;
}

namespace {

// Cuts an open file to Size bytes.
bool TruncateFile(FILE* f, size_t size) {
#ifdef _WIN32
  return size <= 0x7fffffff && _chsize(_fileno(f), static_cast<long>(size)) == 0;
#else
  return ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
}

}  // namespace

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  // The platform reads a name up to a NUL: the bytes would land in another
  // file than the one named.
  if (fileName.find('\0') != std::string::npos) throw EInOutError("Cannot create file " + fileName);
  // An existing file is written over in place and then cut to size: emptying
  // it first makes the system give its blocks back (waiting for them to be
  // written out if they still are) only to take new ones, which can cost more
  // than the writing itself. The file ends up the same.
  FILE* f = OpenFileUtf8(fileName, "r+b");
  if (!f) f = OpenFileUtf8(fileName, "wb");
  if (!f) throw EInOutError("Cannot create file " + fileName);
  size_t written = data_.empty() ? 0 : fwrite(data_.data(), 1, data_.size(), f);
  bool ok = written == data_.size();
  // Whatever happened, nothing of the old content may follow what was written.
  if (fflush(f) != 0 || !TruncateFile(f, written)) ok = false;
  if (fclose(f) != 0) ok = false;
  if (!ok) throw EInOutError("Cannot write file " + fileName);
}
