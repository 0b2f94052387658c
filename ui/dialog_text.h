// Text handling behind the settings dialogs that needs no window, so it can be
// tested anywhere.
#pragma once

#include <cstddef>

// Blank, tab and dot: what is cut from both ends of a typed address.
constexpr char kTrimSet[] = " \t.";

// Removes, in place, every leading and trailing byte of text that occurs in set.
void TrimChars(char* text, const char* set);

// What the entry dialog makes of a typed address: the text before its first
// line end (CR or LF) or Ctrl-Z byte, trimmed of kTrimSet. In the list file a
// line feed would end the entry and a Ctrl-Z every entry after it; a single-line
// field keeps only the first line of a pasted text too.
void CleanAddress(char* text);

// Writes format into out with address in place of its one %s; "%%" stands for
// one percent sign. Returns false, leaving out empty, when format holds no %s,
// more than one, or any other conversion: host text is never a printf format.
// The result is cut to outSize - 1 bytes.
bool FillInAddress(const char* format, const char* address, char* out, size_t outSize);

// Writes name over the file-name part of the full path in path (after its last
// backslash). Returns false, leaving path empty, when there is no backslash or
// the result would not fit in size bytes: a truncated path is never used. The
// one path helper: plugin/ makes the list's and the page icon's paths with it.
bool ReplaceFileName(char* path, size_t size, const char* name);
