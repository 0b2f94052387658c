// quorvel-host check: the plug-in's verdict on every mail below the given paths.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/commands/judge.h"

struct CheckCounts {
    int mails = 0;
    int spam = 0;
    int passed = 0;
    int unreadable = 0;  // files and folders that could not be read or found
    int skipped = 0;     // files in a folder that are not mail
    int links = 0;       // links to a folder already read, not followed
};

// Prints one line per mail to out ("spam  PATH", "pass  PATH", a mail inside an
// mbox as "PATH [N]"), with the reasons under it when explain is set, then the
// summary line. Every input that can't be read is named on err; the run goes on.
// Progress goes to progressTo, when given: a terminal.
CheckCounts RunCheck(CheckMailFn check, const std::vector<std::string>& paths, bool explain,
                     std::FILE* out, std::FILE* err, std::FILE* progressTo = nullptr);
