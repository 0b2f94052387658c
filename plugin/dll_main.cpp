#include <windows.h>

#include <cstring>
#include <cstdlib>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "plugin/host_service.h"
#include "plugin/records.h"
#include "ui/dialogs.h"

namespace {

HINSTANCE g_instance = nullptr;

// Writable data, as the host expects; the zeros after it are part of the block.
PluginInfoBlock g_pluginInfo = {
    {0x00010005, 0x00000908, "Quorvel", "Merrowind",
     "Blocks mail not To or CC'd to your correct email addresses, specified below.", 0,
     ReleasePlugin, ShowSettings, CheckMail},
    {}};

// Writes name over the file-name part of g_modulePath. False, leaving the path
// empty, when the folder leaves no room for it: a truncated path is never used.
bool PointModulePathAt(size_t fileNameStart, const char* name) {
    const size_t length = std::strlen(name);
    if (fileNameStart == 0 || fileNameStart + length >= kPathSize) {
        g_modulePath[0] = '\0';
        return false;
    }
    std::memcpy(g_modulePath + fileNameStart, name, length + 1);
    return true;
}

// Start of the module's file name in g_modulePath, or 0 when the path is unusable.
size_t ReadModulePath(HINSTANCE instance) {
    const DWORD length = GetModuleFileNameA(instance, g_modulePath, kPathSize);
    // A full buffer means a truncated path, which XP does not even terminate.
    if (length == 0 || length >= kPathSize) {
        g_modulePath[0] = '\0';
        return 0;
    }
    const char* lastBackslash = std::strrchr(g_modulePath, '\\');
    return lastBackslash ? static_cast<size_t>(lastBackslash - g_modulePath) + 1 : 0;
}

void BuildOptionsPage(size_t fileNameStart) {
    // Freed only when the module is unloaded: the host may keep the record and its icon.
    auto* page = static_cast<OptionsPageInfo*>(std::malloc(sizeof(OptionsPageInfo)));
    if (!page) return;
    page->one = 1;
    page->count = 36;
    page->instance = g_instance;
    page->templateId = kOptionsPageTemplateId;
    page->dialogProc = AddressListDlgProc;
    page->caption = "Addressees";
    page->reserved = 0;
    page->flag = 0;
    page->icon = nullptr;
    if (PointModulePathAt(fileNameStart, "quorvel.ico")) {
        page->icon = static_cast<HICON>(
            LoadImageA(nullptr, g_modulePath, IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
    }
    page->helpDocument = "quorvel_plugin.htm";
    g_optionsPage = page;
}

void StartUp(HINSTANCE instance) {
    g_instance = instance;
    const size_t fileNameStart = ReadModulePath(instance);
    if (!g_optionsPage) BuildOptionsPage(fileNameStart);
    PointModulePathAt(fileNameStart, "quorvel.txt");
    LoadAddressList();
}

// The page record points into this module, so no host can use it once the
// module is gone.
void ShutDown() {
    UnloadAddressList();
    if (OptionsPageInfo* page = g_optionsPage) {
        g_optionsPage = nullptr;
        if (page->icon) DestroyIcon(page->icon);
        std::free(page);
    }
}

}  // namespace

void* ModuleInstance() {
    return g_instance;
}

extern "C" PluginInfo* GetSpamCheckPluginInfo() {
    return &g_pluginInfo.info;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) StartUp(instance);
    // FreeLibrary while the process goes on: a host that loads the module again
    // would otherwise keep the old list's memory. At process exit other threads
    // are gone mid-call, so nothing is touched then.
    if (reason == DLL_PROCESS_DETACH && !reserved) ShutDown();
    return TRUE;
}
