#include "tools/host/settings_win.h"

#include <cstdio>

#include "tools/host/page_frame_win.h"
#include "ui/resource.h"

namespace {

int NoDialog() {
    std::fprintf(stderr, "quorvel-host: this quorvel.dll has no settings dialog\n");
    return 2;
}

// A failed save is the one outcome the user must hear of: the edits are not in
// the file, and will be gone when the host restarts.
int SaveFailed(const Plugin& plugin) {
    std::fprintf(stderr, "quorvel-host: the plug-in could not save its list to %squorvel.txt\n",
                 PluginFolder(plugin).c_str());
    return 1;
}

// The settings dialog saves by sending itself WM_SAVELIST; a hook on this thread
// sees what the plug-in answered.
struct SaveWatch {
    static inline bool seen = false;
    static inline LRESULT answer = 0;
    static LRESULT CALLBACK OnReturn(int code, WPARAM wParam, LPARAM lParam) {
        const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && sent && sent->message == WM_SAVELIST) {
            seen = true;
            answer = sent->lResult;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

}  // namespace

int RunSettings(const Plugin& plugin) {
    if (!plugin.showSettings) return NoDialog();
    RegisterListView();
    SaveWatch::seen = false;
    HHOOK hook =
        SetWindowsHookExA(WH_CALLWNDPROCRET, SaveWatch::OnReturn, nullptr, GetCurrentThreadId());
    const int32_t result = plugin.showSettings(nullptr);
    if (hook) UnhookWindowsHookEx(hook);
    if (result == -1) {
        std::fprintf(stderr, "quorvel-host: the plug-in could not create its settings dialog\n");
        return 2;
    }
    if (result != 1) {
        std::printf("Settings closed without saving.\n");
        return 0;
    }
    if (!SaveWatch::seen || SaveWatch::answer != kListSaved) return SaveFailed(plugin);
    std::printf("Settings closed with OK: the list was saved.\n");
    return 0;
}

int RunPage(const Plugin& plugin) {
    RegisterListView();
    PageFrame window;
    std::string error;
    if (!CreatePageFrame(plugin, window, error)) {
        std::fprintf(stderr, "quorvel-host: %s\n", error.c_str());
        return 2;
    }
    ShowWindow(window.page, SW_SHOW);
    ShowWindow(window.frame, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window.frame, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (!window.closedWithOk) {
        std::printf("Settings page closed without saving.\n");
        return 0;
    }
    if (!window.saved) return SaveFailed(plugin);
    std::printf("Settings page closed with OK: the list was saved.\n");
    return 0;
}
