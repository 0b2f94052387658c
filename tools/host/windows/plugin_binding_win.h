// quorvel.dll loaded and registered the way the mail-filter host does it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tools/host/commands/judge.h"

struct Plugin {
    HMODULE module = nullptr;
    // The loaded module's full path: in UTF-8 for every look at the file system
    // and every line printed, and as the system's code page spells it, which
    // is how the module was loaded and how it names its own folder.
    std::string path;
    std::string codePagePath;
    std::string name;  // what the plug-in answers to RS_GET_NAME
    void (*release)() = nullptr;
    int32_t (*showSettings)(HWND parent) = nullptr;
    CheckMailFn checkMail = nullptr;
    // The settings-page record, read as the host reads it; null when the
    // plug-in has none.
    const unsigned char* page = nullptr;
};

// Loads folder\quorvel.dll (the host program's folder when folder is empty; in
// UTF-8), reads its PluginInfo and sends ReceiveService codes 0, 1 and 2. False,
// with the reason in error, when it is no usable plug-in.
bool LoadPlugin(const std::string& folder, Plugin& plugin, std::string& error);

// The running program's folder in UTF-8, with its trailing backslash; empty
// when its path does not fit in MAX_PATH.
std::string ProgramFolder();

// ReleasePlugin, then unloading.
void UnloadPlugin(Plugin& plugin);

// The folder that holds the plug-in, in UTF-8, with its trailing backslash.
std::string PluginFolder(const Plugin& plugin);

// Raw members of the host's records, at their 32-bit offsets.
inline uint32_t U32At(const unsigned char* record, size_t offset) {
    uint32_t value;
    memcpy(&value, record + offset, sizeof value);
    return value;
}
template <typename T>
T PointerAt(const unsigned char* record, size_t offset) {
    return reinterpret_cast<T>(static_cast<uintptr_t>(U32At(record, offset)));
}
