// quorvel-host lint, and the warning block at the top of check: entries of the
// list file that let nearly every mail through, never decide anything, or do
// not come back as written when the plug-in reads the file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct ListWarning {
    std::string entry;    // as the plug-in reads it
    std::string message;  // plain words: what it does to the user's mail
};

// The warnings about a list file's bytes, in file order.
std::vector<ListWarning> ExamineList(const char* data, size_t size);

// An entry as the user can read it: control bytes spelt out, in quotes.
std::string ShowEntry(const std::string& entry);

// text broken at blanks into lines of at most width (a longer word stands
// alone), the first indented by indent, the rest by hanging.
std::string Wrapped(const std::string& text, size_t indent, size_t hanging, size_t width);

// Reads the list file at path and prints its warnings, each naming the entry,
// under a heading; prints nothing when the list is healthy. A missing, unreadable
// or empty list is a warning too when sayWhenEmpty is set. Returns how many it
// printed.
int PrintListWarnings(const std::string& path, bool sayWhenEmpty, std::FILE* out);
