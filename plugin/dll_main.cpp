#include <windows.h>

#include <cstring>
#include <cstdlib>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "plugin/host_service.h"
#include "plugin/records.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace {

HINSTANCE g_instance = nullptr;

// Writable data, as the host expects; the zeros after it are part of the block.
PluginInfoBlock g_pluginInfo = {
    {0x00010005, 0x00000908, "Quorvel", "Merrowind",
     "Blocks mail not To or CC'd to your correct email addresses, specified below.", 0,
     ReleasePlugin, ShowSettings, CheckMail},
    {}};

// The module's full path into g_modulePath; empty when it is unusable.
void ReadModulePath(HINSTANCE instance) {
    const DWORD length = GetModuleFileNameA(instance, g_modulePath, kPathSize);
    // A full buffer means a truncated path, which XP does not even terminate.
    if (length == 0 || length >= kPathSize) g_modulePath[0] = '\0';
}

void BuildOptionsPage() {
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
    char iconPath[kPathSize];
    std::memcpy(iconPath, g_modulePath, sizeof iconPath);
    if (ReplaceFileName(iconPath, sizeof iconPath, "quorvel.ico")) {
        page->icon =
            static_cast<HICON>(LoadImageA(nullptr, iconPath, IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
    }
    page->helpDocument = "quorvel_plugin.htm";
    g_optionsPage = page;
}

void StartUp(HINSTANCE instance) {
    g_instance = instance;
    ReadModulePath(instance);
    if (!g_optionsPage) BuildOptionsPage();
    // A folder that leaves no room for the name leaves the path empty: a
    // truncated path is never used.
    ReplaceFileName(g_modulePath, kPathSize, "quorvel.txt");
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
