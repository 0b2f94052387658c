// The host's command line, read without touching the platform.
#pragma once

#include <string>
#include <vector>

enum class Command { kNone, kHelp, kCheck, kLearn, kLint, kSettings, kPage };

struct CommandLine {
    Command command = Command::kNone;
    bool explain = false;
    bool domains = false;                // learn: fold addresses into domain entries
    bool listOnly = false;               // learn: --format=list
    bool write = false;                  // learn: add the proposal to the list file
    std::vector<std::string> spamPaths;  // learn: known spam
    std::string pluginFolder;            // empty: the folder of the host program
    std::vector<std::string> paths;      // for check and learn
    std::string error;                   // set when the arguments make no sense
};

// argv[0] is the program; the rest are read in any order, "--" ending options.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text --help prints.
extern const char kUsage[];
