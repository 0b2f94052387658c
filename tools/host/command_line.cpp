#include "tools/host/command_line.h"

const char kUsage[] =
    "Usage: quorvel-host [--plugin DIR] COMMAND\n"
    "\n"
    "Loads quorvel.dll (from DIR, or from the folder of quorvel-host.exe) the way\n"
    "the mail-filter host does, and lets you try it without the host.\n"
    "\n"
    "Commands:\n"
    "  check [--explain] PATH...  give the plug-in's verdict on each mail: PATH is\n"
    "                             a mail file (.eml), an mbox file, or a folder of\n"
    "                             them (a Maildir too); --explain says why\n"
    "  settings                   open the plug-in's settings dialog\n"
    "  page                       open the plug-in's settings page in a window\n"
    "                             like the host's; OK saves the list\n"
    "\n"
    "Options:\n"
    "  --plugin DIR               load DIR\\quorvel.dll; it reads the list of your\n"
    "                             addresses from DIR\\quorvel.txt\n"
    "  --help                     show this text\n"
    "\n"
    "check exits with 0 when every mail could be read, 1 when some could not;\n"
    "every command exits with 2 when the arguments or the plug-in are unusable.\n";

namespace {

bool ReadCommand(const std::string& word, Command& command) {
    if (word == "check")
        command = Command::kCheck;
    else if (word == "settings")
        command = Command::kSettings;
    else if (word == "page")
        command = Command::kPage;
    else
        return false;
    return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h" || arg == "/?")) {
            line.command = Command::kHelp;
            return line;
        }
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            words.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--explain") {
            line.explain = true;
        } else if (arg == "--plugin") {
            if (i + 1 >= argc) {
                line.error = "--plugin needs a folder";
                return line;
            }
            line.pluginFolder = argv[++i];
        } else {
            line.error = "unknown option " + arg;
            return line;
        }
    }
    if (words.empty()) {
        line.error = "no command given";
        return line;
    }
    if (!ReadCommand(words[0], line.command)) {
        line.error = "unknown command " + words[0];
        return line;
    }
    words.erase(words.begin());
    if (line.command == Command::kCheck) {
        line.paths = words;
        if (line.paths.empty()) line.error = "check needs at least one mail file or folder";
    } else if (!words.empty()) {
        line.error = "unexpected argument " + words[0];
    } else if (line.explain) {
        line.error = "--explain goes with check";
    }
    if (!line.error.empty()) line.command = Command::kNone;
    return line;
}
