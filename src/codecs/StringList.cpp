#include "codecs/StringList.h"

#include "codecs/Exception.h"

#include <utility>

namespace {

// Case folding of the Western ANSI code page (1252): ASCII letters, the
// Latin-1 letters C0..DE/E0..FE (but the multiplication and division signs),
// and the four letter pairs placed in 8A..9F.
struct FoldTable {
  unsigned char upper[256];
  unsigned char lower[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c) upper[c] = lower[c] = static_cast<unsigned char>(c);
    auto pair = [this](int up, int low) {
      upper[low] = static_cast<unsigned char>(up);
      lower[up] = static_cast<unsigned char>(low);
    };
    for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c)
      if (c != 0xD7) pair(c, c + 32);
    pair(0x8A, 0x9A);
    pair(0x8C, 0x9C);
    pair(0x8E, 0x9E);
    pair(0x9F, 0xFF);
  }
};

const FoldTable& Fold() {
  static const FoldTable table;
  return table;
}

// The "=" that ends the name of a name=value line; npos when there is none.
// A plain loop: such lines are short, and the C library's search costs more
// to call than the loop takes.
size_t FindEquals(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i)
    if (line[i] == '=') return i;
  return std::string::npos;
}

}  // namespace

int AnsiCompareText(std::string_view a, std::string_view b) {
  const FoldTable& f = Fold();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int ca = f.upper[static_cast<unsigned char>(a[i])];
    int cb = f.upper[static_cast<unsigned char>(b[i])];
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

std::string AnsiUpperCase(const std::string& s) {
  const FoldTable& f = Fold();
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(f.upper[static_cast<unsigned char>(c)]);
  return r;
}

std::string AnsiLowerCase(const std::string& s) {
  const FoldTable& f = Fold();
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(f.lower[static_cast<unsigned char>(c)]);
  return r;
}

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) Assign(other);
  return *this;
}

void TStringList::IndexError(int index) {
  throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

void TStringList::Put(int index, const std::string& line) {
  if (index < 0 || index >= Count()) IndexError(index);
  Changing();
  lines_[static_cast<size_t>(index)] = line;
  Changed();
}

int TStringList::Add(const std::string& line) {
  Changing();
  lines_.push_back(line);
  Changed();
  return Count() - 1;
}

int TStringList::Add(std::string&& line) {
  Changing();
  lines_.push_back(std::move(line));
  Changed();
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& line) {
  if (index < 0 || index > Count()) IndexError(index);
  Changing();
  lines_.insert(lines_.begin() + index, line);
  Changed();
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  Changing();
  lines_.erase(lines_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  std::vector<std::string>().swap(spare_);
  if (lines_.empty()) return;
  Changing();
  lines_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& source) {
  BeginUpdate();
  lines_ = source.lines_;
  EndUpdate();
}

void TStringList::AddStrings(const TStringList& source) {
  BeginUpdate();
  std::vector<std::string> copy = source.lines_;  // source may be this list
  lines_.insert(lines_.end(), copy.begin(), copy.end());
  EndUpdate();
}

int TStringList::IndexOf(const std::string& line) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(lines_[static_cast<size_t>(i)], line)) return i;
  return -1;
}

std::string TStringList::Text() const {
  size_t total = 0;
  for (const auto& l : lines_) total += l.size() + 2;
  std::string r;
  r.reserve(total);
  for (const auto& l : lines_) {
    r += l;
    r += "\r\n";
  }
  return r;
}

void TStringList::SetText(const std::string& text) { SetText(text.data(), text.size()); }

void TStringList::SetText(const char* data, size_t length) {
  BeginUpdate();
  lines_.clear();
  ForEachTextLine(data, length, [this](std::string_view line) { lines_.emplace_back(line); });
  EndUpdate();
}

std::string TStringList::Names(int index) const {
  const std::string& l = (*this)[index];
  size_t eq = FindEquals(l);
  return eq == std::string::npos ? std::string() : l.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& l = (*this)[index];
  size_t eq = FindEquals(l);
  return eq == std::string::npos ? std::string() : l.substr(eq + 1);
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& l = lines_[static_cast<size_t>(i)];
    size_t eq = FindEquals(l);
    if (eq != std::string::npos && eq == name.size() &&
        AnsiCompareText(std::string_view(l).substr(0, eq), name) == 0)
      return i;
  }
  return -1;
}

std::string TStringList::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (!value.empty()) {
    if (i < 0) Add(name + "=" + value);
    else Put(i, name + "=" + value);
  } else if (i >= 0) {
    Delete(i);
  }
}

void TStringList::BeginUpdate() {
  if (updateCount_ == 0) Changing();
  ++updateCount_;
}

void TStringList::EndUpdate() {
  if (updateCount_ <= 0) return;
  --updateCount_;
  if (updateCount_ == 0) Changed();
}

void TStringList::Changing() {
  if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}
