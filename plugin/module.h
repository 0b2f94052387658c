// Process-wide state of the loaded module.
#pragma once

#include <windows.h>

#include "plugin/records.h"

extern HINSTANCE g_instance;

extern "C" PluginInfo* GetSpamCheckPluginInfo();
