// Line-list routines the lexers build their tokens with, and the
// writer of the transfer log. Line numbers are 0-based, columns 1-based.
#pragma once

#include "codecs/StringList.h"
#include "codecs/TextHelpers.h"

#include <string>
#include <string_view>

// Clears dest and fills it with the text of source from (startLine,
// startColumn) to (endLine, endColumn), both ends inclusive, one entry per
// source line. When endLine is before startLine, only the start line is used,
// from startColumn to endColumn. Columns outside a line give fewer or no
// characters; a line index outside source raises the list's index error.
void ExtractRange(const TStringList& source, TStringList& dest, int startLine, int startColumn,
                  int endLine, int endColumn);
// The same over lines held anywhere: lineAt(index) gives a line as a
// std::string_view. The caller keeps the lines in range and apart from dest.
template <class LineAt>
void ExtractRangeOf(LineAt lineAt, TStringList& dest, int startLine, int startColumn, int endLine,
                    int endColumn) {
  const int lastLine = endLine > startLine ? endLine : startLine;
  dest.Refill(static_cast<size_t>(lastLine - startLine) + 1, [&](size_t i, std::string& piece) {
    const int line = startLine + static_cast<int>(i);
    const std::string_view text = lineAt(line);
    const int column = i == 0 ? startColumn : 1;
    const long long count = line < endLine ? static_cast<long long>(text.size())
                                           : static_cast<long long>(endColumn) - column + 1;
    piece.append(TextRange(text, column, count));
  });
}

// The lines with the separator between each two consecutive lines.
std::string JoinLines(const TStringList& lines, const std::string& separator);

// The first source line continues dest's last line; the others are added.
void AppendLines(const TStringList& source, TStringList& dest);
// Appends to dest's last line, or adds a line when dest is empty.
void AppendText(const std::string& text, TStringList& dest);
void AppendChar(char c, TStringList& dest);

// Writes every line followed by CR LF to the file (created or replaced), using
// the file name (UTF-8) up to its first 259 characters. Every file error is ignored;
// a name whose first 259 characters hold a NUL writes nothing.
void SaveLinesToFile(const TStringList& lines, const std::string& fileName);
