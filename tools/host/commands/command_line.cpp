#include "tools/host/commands/command_line.h"

const char kUsage[] =
    "Usage: quorvel-host [--plugin DIR] COMMAND\n"
    "\n"
    "Loads quorvel.dll (from DIR, or from the folder of quorvel-host.exe) the way\n"
    "the mail-filter host does, and lets you try it without the host.\n"
    "\n"
    "Commands:\n"
    "  check [--explain] PATH...  give the plug-in's verdict on each mail: PATH is\n"
    "                             a mail file (.eml), an mbox file of any size, or\n"
    "                             a folder of them (a Maildir too); --explain says\n"
    "                             why. Warnings about the list come first\n"
    "  learn [OPTIONS] PATH...    read your good mail and propose the shortest list\n"
    "                             that lets all of it through, whole addresses\n"
    "                             only; an entry marked * lies inside other\n"
    "                             addresses seen, whose mail it lets through too.\n"
    "                             In folders it leaves out Junk, Spam, Trash,\n"
    "                             Sent, Drafts and the like; name one to read it:\n"
    "    --domains                three or more addresses at one domain become one\n"
    "                             entry, @domain\n"
    "    --spam PATH              also count what each entry lets through of this\n"
    "                             known spam (repeat for more paths)\n"
    "    --format=list            print only the entries, one a line\n"
    "    --write                  add those your quorvel.txt does not let through\n"
    "                             yet, and name what the save drops of the file\n"
    "  lint                       warn about entries of quorvel.txt that let nearly\n"
    "                             every mail through or none, never decide\n"
    "                             anything, or don't load as written\n"
    "  settings                   open the plug-in's settings dialog\n"
    "  page                       open the plug-in's settings page in a window\n"
    "                             like the host's; OK saves the list\n"
    "\n"
    "Options:\n"
    "  --plugin DIR               load DIR\\quorvel.dll; it reads the list of your\n"
    "                             addresses from DIR\\quorvel.txt\n"
    "  --help                     show this text\n"
    "\n"
    "PATH may be in any script, with * and ? in its last part. Folders are read\n"
    "whole: Maildir and its Maildir++ folders (.Sent), a Thunderbird profile's\n"
    "mbox files and .sbd folders, each folder once however many links lead to\n"
    "it. Files that don't start like a mail are left out and counted. Names show\n"
    "in their own characters on a console; redirected output is UTF-8.\n"
    "\n"
    "check and learn exit with 0 when every mail could be read, 1 when some could\n"
    "not, and learn --write also when the list could not be written; lint exits\n"
    "with 1 when it warns. Every command exits with 2 when the arguments or the\n"
    "plug-in are unusable.\n";

namespace {

bool ReadCommand(const std::string& word, Command& command) {
    if (word == "check")
        command = Command::kCheck;
    else if (word == "learn")
        command = Command::kLearn;
    else if (word == "lint")
        command = Command::kLint;
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
        } else if (arg == "--domains") {
            line.domains = true;
        } else if (arg == "--format=list") {
            line.listOnly = true;
        } else if (arg == "--write") {
            line.write = true;
        } else if (arg == "--spam") {
            if (i + 1 >= argc) {
                line.error = "--spam needs a mail file or folder";
                return line;
            }
            line.spamPaths.push_back(argv[++i]);
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
    const std::string words0 = words[0];
    words.erase(words.begin());
    const bool learnOption = line.domains || line.listOnly || line.write || !line.spamPaths.empty();
    if (line.command == Command::kCheck || line.command == Command::kLearn) {
        line.paths = words;
        if (line.paths.empty()) line.error = words0 + " needs at least one mail file or folder";
    } else if (!words.empty()) {
        line.error = "unexpected argument " + words[0];
    }
    if (!line.error.empty()) {
    } else if (line.explain && line.command != Command::kCheck) {
        line.error = "--explain goes with check";
    } else if (learnOption && line.command != Command::kLearn) {
        line.error = "--domains, --spam, --format=list and --write go with learn";
    }
    if (!line.error.empty()) line.command = Command::kNone;
    return line;
}
