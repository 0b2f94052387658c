// The host's command line, read without touching the platform.
#pragma once

#include <string>
#include <vector>

enum class Command { kNone, kHelp, kCheck, kSettings, kPage };

struct CommandLine {
    Command command = Command::kNone;
    bool explain = false;
    std::string pluginFolder;        // empty: the folder of the host program
    std::vector<std::string> paths;  // for check
    std::string error;               // set when the arguments make no sense
};

// argv[0] is the program; the rest are read in any order, "--" ending options.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text --help prints.
extern const char kUsage[];
