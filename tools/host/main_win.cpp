// quorvel-host.exe: loads quorvel.dll as the mail-filter host does, and runs it
// over mail files or opens its settings.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/host/check_command.h"
#include "tools/host/command_line.h"
#include "tools/host/plugin_binding_win.h"
#include "tools/host/settings_win.h"

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
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
    std::printf("Plug-in: %s (%s)\n", plugin.name.c_str(), plugin.path.c_str());
    int status = 0;
    switch (line.command) {
        case Command::kCheck: {
            const CheckCounts counts =
                RunCheck(plugin.checkMail, line.paths, line.explain, stdout, stderr);
            status = counts.unreadable > 0 ? 1 : 0;
            break;
        }
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
