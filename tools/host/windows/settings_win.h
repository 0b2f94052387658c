// quorvel-host settings and page: the plug-in's own dialog, and its page in a
// window like the host's settings window.
#pragma once

#include "tools/host/windows/plugin_binding_win.h"

// Each returns the program's exit status.
int RunSettings(const Plugin& plugin);
int RunPage(const Plugin& plugin);
