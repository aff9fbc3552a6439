// Files named in UTF-8. Names keep every character, those outside the
// system code page too: on Windows the file is opened by its UTF-16 name.
#pragma once

#include <cstdio>
#include <string>

// fopen of a file named in UTF-8 (invalid bytes count as U+FFFD). Null on
// failure, as fopen.
FILE* OpenFileUtf8(const std::string& name, const char* mode);

// Deletes the file named in UTF-8; false when it cannot.
bool RemoveFileUtf8(const std::string& name);

// The name cut to its first count UTF-16 units, a surrogate pair never
// parted.
std::string TruncateFileName(const std::string& name, size_t count);
