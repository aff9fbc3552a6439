#include "codecs/LineUtils.h"

#include "codecs/Files.h"

#include <cstdio>

namespace {

// Keeps a list's change notices suspended for a scope, however it is left.
class UpdateGuard {
public:
  explicit UpdateGuard(TStringList& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateGuard() { list_.EndUpdate(); }
  UpdateGuard(const UpdateGuard&) = delete;
  UpdateGuard& operator=(const UpdateGuard&) = delete;

private:
  TStringList& list_;
};

}  // namespace

void ExtractRange(const TStringList& source, TStringList& dest, int startLine, int startColumn,
                  int endLine, int endColumn) {
  // The source may be the destination itself: read from a copy then.
  if (&source == &dest) {
    const TStringList copy(source);
    ExtractRange(copy, dest, startLine, startColumn, endLine, endColumn);
    return;
  }
  const TStringList& src = source;
  const int lastLine = endLine > startLine ? endLine : startLine;
  // A line outside the source raises the list's index error before dest changes.
  for (int line = startLine; line <= lastLine; ++line) (void)src[line];
  const std::vector<std::string>& lines = src.Lines();
  UpdateGuard guard(dest);
  ExtractRangeOf([&lines](int line) { return std::string_view(lines[static_cast<size_t>(line)]); }, dest,
                 startLine, startColumn, endLine, endColumn);
}

std::string JoinLines(const TStringList& lines, const std::string& separator) {
  const auto& all = lines.Lines();
  if (all.empty()) return std::string();
  size_t total = separator.size() * (all.size() - 1);
  for (const auto& l : all) total += l.size();
  std::string r;
  r.reserve(total);
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0) r += separator;
    r += all[i];
  }
  return r;
}

void AppendLines(const TStringList& source, TStringList& dest) {
  if (source.Empty()) return;
  const std::vector<std::string> lines = source.Lines();  // source may be dest
  UpdateGuard guard(dest);
  size_t first = 0;
  if (!dest.Empty()) {
    dest.Put(dest.Count() - 1, dest[dest.Count() - 1] + lines[0]);
    first = 1;
  }
  for (size_t i = first; i < lines.size(); ++i) dest.Add(lines[i]);
}

void AppendText(const std::string& text, TStringList& dest) {
  if (dest.Empty())
    dest.Add(text);
  else
    dest.Put(dest.Count() - 1, dest[dest.Count() - 1] + text);
}

void AppendChar(char c, TStringList& dest) { AppendText(std::string(1, c), dest); }

void SaveLinesToFile(const TStringList& lines, const std::string& fileName) {
  // The transfer log must never fail its owner: every file error is ignored.
  std::string name = TruncateFileName(fileName, 259);
  // A NUL would cut the name and the log would land in another file.
  if (name.find('\0') != std::string::npos) return;
  FILE* f = OpenFileUtf8(name, "wb");
  if (!f) return;
  std::string text = lines.Text();
  if (!text.empty()) (void)fwrite(text.data(), 1, text.size(), f);
  fflush(f);
  fclose(f);
}
