// Text for the console the program runs in.
#pragma once

#include <cstdio>

// Whether the stream writes to a terminal rather than to a file, a pipe or a
// device such as NUL.
bool IsTerminal(std::FILE* stream);

#ifdef _WIN32
// While one lives, what the program writes to stdout and stderr in UTF-8 is shown
// on a console in the console's own characters (through WriteConsoleW); a line
// that is not UTF-8, such as an 8-bit header value, in the console's code page,
// as before. Output to a file or a pipe is left as written: UTF-8. IsTerminal
// still says true for a stream it serves.
class ConsoleText {
  public:
    ConsoleText();
    ~ConsoleText();  // everything written so far is shown before it returns
    ConsoleText(const ConsoleText&) = delete;
    ConsoleText& operator=(const ConsoleText&) = delete;
};
#endif
