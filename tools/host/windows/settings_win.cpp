#include "tools/host/windows/settings_win.h"

#include <cstdio>
#include <cstring>

#include "tools/host/windows/page_frame_win.h"
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

// The settings dialog saves by sending itself WM_SAVELIST. A CBT hook, which
// runs only on window events, subclasses the dialog when it is activated; the
// subclass sees each save's answer. A hook on sent messages would cost a round
// trip to Wine's server on every message: 5 s to fill 10,000 rows.
struct SaveWatch {
    static inline bool watching = false;
    static inline WNDPROC dialogProc = nullptr;
    static inline int saves = 0;
    static inline LRESULT lastAnswer = 0;

    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        const WNDPROC next = dialogProc;
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
        }
        const LRESULT result = CallWindowProcA(next, window, message, wParam, lParam);
        if (message == WM_SAVELIST) {
            ++saves;
            lastAnswer = result;
        }
        return result;
    }

    // The first dialog activated is the settings dialog; those it opens come later.
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && !watching) {
            HWND window = reinterpret_cast<HWND>(wParam);
            char windowClass[16] = "";
            GetClassNameA(window, windowClass, sizeof windowClass);
            if (std::strcmp(windowClass, "#32770") == 0) {
                watching = true;
                dialogProc = reinterpret_cast<WNDPROC>(
                    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

}  // namespace

int RunSettings(const Plugin& plugin) {
    if (!plugin.showSettings) return NoDialog();
    RegisterListView();
    SaveWatch::watching = false;
    SaveWatch::saves = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, SaveWatch::OnCbt, nullptr, GetCurrentThreadId());
    const int32_t result = plugin.showSettings(nullptr);
    if (hook) UnhookWindowsHookEx(hook);
    if (result == -1) {
        std::fprintf(stderr, "quorvel-host: the plug-in could not create its settings dialog\n");
        return 2;
    }
    // The dialog stays open after a failed save, so the user may still have
    // cancelled it: the edits are not in the file either way.
    const bool failed = SaveWatch::saves > 0 && SaveWatch::lastAnswer != kListSaved;
    if (failed || (result == 1 && SaveWatch::saves == 0)) return SaveFailed(plugin);
    if (result != 1) {
        std::printf("Settings closed without saving.\n");
        return 0;
    }
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
