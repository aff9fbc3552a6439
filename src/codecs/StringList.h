// TStringList: an ordered list of 8-bit lines with optional name=value use
// and change notification.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Case-insensitive comparison of 8-bit text, folding ASCII and the Latin-1
// letters of the Western ANSI code page. Returns <0, 0 or >0.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);

// Hands line(std::string_view) each line of the text, split as
// TStringList::SetText splits it (see there), without copying any.
template <class Line>
void ForEachTextLine(const char* data, size_t length, Line line) {
  const char* end = data + length;
  const char* p = data;
  // One pass finds the line ends and the NUL that ends the text.
  while (p < end && *p != '\0') {
    const char* start = p;
    while (p < end && *p != '\r' && *p != '\n' && *p != '\0') ++p;
    line(std::string_view(start, static_cast<size_t>(p - start)));
    if (p < end && *p == '\r') {
      ++p;
      if (p < end && *p == '\n') ++p;
    } else if (p < end && *p == '\n') {
      ++p;  // lone LF
    }
  }
}

class TStringList {
public:
  using TNotifyEvent = std::function<void(TStringList* sender)>;

  TStringList() = default;
  TStringList(const TStringList& other) : lines_(other.lines_) {}
  TStringList& operator=(const TStringList& other);
  virtual ~TStringList() = default;

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // Indexed read; throws Exception "List index out of bounds (%d)" when out of range.
  const std::string& operator[](int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return lines_[static_cast<size_t>(index)];
  }
  const std::string& Get(int index) const { return (*this)[index]; }
  void Put(int index, const std::string& line);
  const std::vector<std::string>& Lines() const { return lines_; }

  int Add(const std::string& line);
  // The same, taking over the text of a temporary instead of copying it.
  int Add(std::string&& line);
  void Insert(int index, const std::string& line);
  void Delete(int index);
  void Clear();
  // Makes the list count lines long, filling each by fill(index, line) in
  // order, from line 0, on an empty line: one change. The lines the list
  // held before, and those a shorter refill left over, lend their memory, so
  // refilling a list that held as much before allocates nothing (a lexer
  // refills the same lists for every token).
  template <class Fill>
  void Refill(size_t count, Fill fill);
  void Assign(const TStringList& source);
  void AddStrings(const TStringList& source);

  // Case-insensitive search of a whole line; -1 when absent.
  int IndexOf(const std::string& line) const;

  // Text: every line followed by CR LF. SetText splits at CR LF, lone CR and
  // lone LF; a final line end adds no empty line; a NUL byte ends the text.
  std::string Text() const;
  void SetText(const std::string& text);
  void SetText(const char* data, size_t length);

  // name=value use. Names compare case-insensitively.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  int IndexOfName(const std::string& name) const;
  std::string Values(const std::string& name) const;
  // A non-empty value replaces the line of that name in place or appends one;
  // an empty value deletes the line of that name.
  void SetValue(const std::string& name, const std::string& value);

  // Change notification. Within BeginUpdate/EndUpdate no notice is sent; the
  // outermost EndUpdate sends OnChange once.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  void Changing();
  void Changed();

private:
  [[noreturn]] static void IndexError(int index);

  std::vector<std::string> lines_;
  std::vector<std::string> spare_;  // lines a Refill left over, kept for the next
  int updateCount_ = 0;
};

template <class Fill>
void TStringList::Refill(size_t count, Fill fill) {
  Changing();
  // Bounded by the difference of the two counts.
  while (lines_.size() > count) {
    spare_.push_back(std::move(lines_.back()));
    lines_.pop_back();
  }
  while (lines_.size() < count && !spare_.empty()) {
    lines_.push_back(std::move(spare_.back()));
    spare_.pop_back();
  }
  lines_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    lines_[i].clear();
    fill(i, lines_[i]);
  }
  Changed();
}
