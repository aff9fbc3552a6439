// Line-list routines the lexers build their tokens with, and the
// writer of the transfer log. Line numbers are 0-based, columns 1-based.
#pragma once

#include "codecs/StringList.h"

#include <string>

// Clears dest and fills it with the text of source from (startLine,
// startColumn) to (endLine, endColumn), both ends inclusive, one entry per
// source line. When endLine is before startLine, only the start line is used,
// from startColumn to endColumn. Columns outside a line give fewer or no
// characters; a line index outside source raises the list's index error.
void ExtractRange(const TStringList& source, TStringList& dest, int startLine, int startColumn,
                  int endLine, int endColumn);

// The lines with the separator between each two consecutive lines.
std::string JoinLines(const TStringList& lines, const std::string& separator);

// The first source line continues dest's last line; the others are added.
void AppendLines(const TStringList& source, TStringList& dest);
// Appends to dest's last line, or adds a line when dest is empty.
void AppendText(const std::string& text, TStringList& dest);
void AppendChar(char c, TStringList& dest);

// Writes every line followed by CR LF to the file (created or replaced), using
// the file name up to its first 259 characters. Every file error is ignored;
// a name whose first 259 characters hold a NUL writes nothing.
void SaveLinesToFile(const TStringList& lines, const std::string& fileName);
