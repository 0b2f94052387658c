// quorvel-host.exe: loads quorvel.dll as the mail-filter host does, and runs it
// over mail files or opens its settings.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/host/commands/check_command.h"
#include "tools/host/commands/command_line.h"
#include "tools/host/commands/learn_report.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/mail/mail_inputs.h"
#include "tools/host/windows/console_text.h"
#include "tools/host/windows/plugin_binding_win.h"
#include "tools/host/windows/settings_win.h"

namespace {

// The arguments in UTF-8, read from the wide command line: the narrow one holds
// only what the ANSI code page can spell.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        arguments.assign(static_cast<size_t>(count), std::string());
        for (int i = 0; i < count; ++i) arguments[static_cast<size_t>(i)] = Utf8FromWide(wide[i]);
        LocalFree(wide);
    }
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    // Names of files, which may be in any script, as the user can read them.
    const ConsoleText console;
    const std::vector<std::string> arguments = Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    const CommandLine line = ParseCommandLine(static_cast<int>(pointers.size()), pointers.data());
    if (line.command == Command::kHelp) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.command == Command::kNone) {
        std::fprintf(stderr, "quorvel-host: %s\nTry quorvel-host --help.\n", line.error.c_str());
        return 2;
    }
    // A missing file is an answer to print, not a system dialog to click away.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    Plugin plugin;
    std::string error;
    if (!LoadPlugin(line.pluginFolder, plugin, error)) {
        std::fprintf(stderr, "quorvel-host: %s\n", error.c_str());
        return 2;
    }
    // Verdicts by the hundred thousand: the C runtime writes a device such as
    // NUL a character at a time, and a file in small pieces. A terminal gets a
    // screenful at a time, so that it still shows the run as it goes.
    const bool reportsMails = line.command == Command::kCheck || line.command == Command::kLearn ||
                              line.command == Command::kLint;
    if (reportsMails) {
        std::setvbuf(stdout, nullptr, _IOFBF, IsTerminal(stdout) ? 4096 : 256 * 1024);
    }
    // A list to paste holds nothing but the entries.
    const bool listOnly = line.command == Command::kLearn && line.listOnly;
    if (!listOnly) std::printf("Plug-in: %s (%s)\n", plugin.name.c_str(), plugin.path.c_str());
    // Progress goes to the terminal only, and only when the output itself goes
    // elsewhere (check) or comes at the end (learn).
    std::FILE* const progressTo = IsTerminal(stderr) ? stderr : nullptr;
    // Messages on stderr come after what stdout already holds.
    std::fflush(stdout);
    const std::string listPath = PluginFolder(plugin) + "quorvel.txt";
    int status = 0;
    switch (line.command) {
        case Command::kCheck: {
            PrintListWarnings(listPath, false, stdout);
            const CheckCounts counts = RunCheck(plugin.checkMail, line.paths, line.explain, stdout,
                                                stderr, IsTerminal(stdout) ? nullptr : progressTo);
            status = counts.unreadable > 0 ? 1 : 0;
            break;
        }
        case Command::kLearn:
            try {
                // What --write adds is weighed against what the list lets through already.
                const bool weighList = line.write && LoadListFile(listPath);
                const Proposal proposal = Learn(line.paths, line.spamPaths, line.domains, stderr,
                                                progressTo, weighList ? ListLetsThrough : nullptr);
                PrintProposal(proposal, !line.spamPaths.empty(), listOnly, stdout);
                status = proposal.unreadable > 0 ? 1 : 0;
                std::fflush(stdout);  // before what WriteProposal may say on stderr
                if (line.write && !WriteProposal(proposal, listPath, listOnly ? stderr : stdout)) {
                    status = 1;
                }
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "quorvel-host: out of memory\n");
                status = 1;
            }
            break;
        case Command::kLint:
            status = PrintListWarnings(listPath, true, stdout) > 0 ? 1 : 0;
            if (status == 0) std::printf("No warnings about your list %s.\n", listPath.c_str());
            break;
        case Command::kSettings:
            status = RunSettings(plugin);
            break;
        case Command::kPage:
            status = RunPage(plugin);
            break;
        default:
            break;
    }
    std::fflush(stdout);
    UnloadPlugin(plugin);
    return status;
}
