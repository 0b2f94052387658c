#include "tools/host/settings_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

namespace {

// OptionsPageInfo members.
constexpr size_t kPageModule = 0x08;
constexpr size_t kPageTemplate = 0x0C;
constexpr size_t kPageProc = 0x10;
constexpr size_t kPageCaption = 0x14;
constexpr size_t kPageIcon = 0x20;
constexpr size_t kPageHelp = 0x24;

// The page saves its list when the host sends it this.
constexpr UINT WM_SAVELIST = WM_USER + 1001;

constexpr int IDC_HELP_BUTTON = 100;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;

int NoDialog() {
    std::fprintf(stderr, "quorvel-host: this quorvel.dll has no settings dialog\n");
    return 2;
}

// The plug-in's list views need their window class, and it does not register it.
void RegisterListView() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

struct PageWindow {
    HWND page = nullptr;
    std::string helpPath;
    bool closedWithOk = false;
    bool saved = false;
};

// The plug-in answers WM_SAVELIST with 1 when its file holds the list.
constexpr LRESULT kSaved = 1;

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

void ShowHelp(HWND frame, const PageWindow& window) {
    if (GetFileAttributesA(window.helpPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::string text = "There is no help document at " + window.helpPath + ".";
        MessageBoxA(frame, text.c_str(), "quorvel-host", MB_OK | MB_ICONINFORMATION);
        return;
    }
    ShellExecuteA(frame, "open", window.helpPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<PageWindow*>(GetWindowLongPtrA(frame, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (!window) break;
            switch (LOWORD(wParam)) {
                case IDOK:
                    window->closedWithOk = true;
                    window->saved = SendMessageA(window->page, WM_SAVELIST, 0, 0) == kSaved;
                    DestroyWindow(frame);
                    return 0;
                case IDCANCEL:
                    DestroyWindow(frame);
                    return 0;
                case IDC_HELP_BUTTON:
                    ShowHelp(frame, *window);
                    return 0;
            }
            break;
        case WM_CLOSE:
            DestroyWindow(frame);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(frame, message, wParam, lParam);
}

void AddButton(HWND frame, const char* text, int id, int x, int y, bool isDefault) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : 0);
    HWND button = CreateWindowExA(0, "BUTTON", text, style, x, y, kButtonWidth, kButtonHeight,
                                  frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  GetModuleHandleA(nullptr), nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
}

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
    if (!SaveWatch::seen || SaveWatch::answer != kSaved) return SaveFailed(plugin);
    std::printf("Settings closed with OK: the list was saved.\n");
    return 0;
}

int RunPage(const Plugin& plugin) {
    if (!plugin.page || !PointerAt<DLGPROC>(plugin.page, kPageProc)) return NoDialog();
    RegisterListView();
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = instance;
    frameClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = "QuorvelHostSettings";
    RegisterClassA(&frameClass);

    const char* caption = PointerAt<const char*>(plugin.page, kPageCaption);
    const std::string title =
        std::string("Settings - ") + (caption ? caption : plugin.name.c_str());
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    HWND frame =
        CreateWindowExA(exStyle, frameClass.lpszClassName, title.c_str(), style, CW_USEDEFAULT,
                        CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, nullptr);
    if (!frame) {
        std::fprintf(stderr, "quorvel-host: cannot create a window (error %lu)\n", GetLastError());
        return 2;
    }
    PageWindow window;
    const char* help = PointerAt<const char*>(plugin.page, kPageHelp);
    if (help) window.helpPath = PluginFolder(plugin) + help;
    SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    if (HICON icon = PointerAt<HICON>(plugin.page, kPageIcon)) {
        SendMessageA(frame, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }

    window.page = CreateDialogParamA(PointerAt<HINSTANCE>(plugin.page, kPageModule),
                                     MAKEINTRESOURCEA(U32At(plugin.page, kPageTemplate)), frame,
                                     PointerAt<DLGPROC>(plugin.page, kPageProc), 0);
    if (!window.page) {
        std::fprintf(stderr, "quorvel-host: the plug-in's page could not be created (error %lu)\n",
                     GetLastError());
        DestroyWindow(frame);
        return 2;
    }

    // The frame is the page plus a row of buttons under it.
    RECT pageRect;
    GetWindowRect(window.page, &pageRect);
    const int pageWidth = pageRect.right - pageRect.left;
    const int pageHeight = pageRect.bottom - pageRect.top;
    SetWindowPos(window.page, nullptr, kMargin, kMargin, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const int buttonsY = kMargin + pageHeight + kMargin;
    int x = kMargin + pageWidth - 3 * kButtonWidth - 2 * kMargin;
    AddButton(frame, "OK", IDOK, x, buttonsY, true);
    AddButton(frame, "Cancel", IDCANCEL, x += kButtonWidth + kMargin, buttonsY, false);
    AddButton(frame, "Help", IDC_HELP_BUTTON, x + kButtonWidth + kMargin, buttonsY, false);
    RECT frameRect = {0, 0, kMargin + pageWidth + kMargin, buttonsY + kButtonHeight + kMargin};
    AdjustWindowRectEx(&frameRect, style, FALSE, exStyle);
    SetWindowPos(frame, nullptr, 0, 0, frameRect.right - frameRect.left,
                 frameRect.bottom - frameRect.top, SWP_NOMOVE | SWP_NOZORDER);

    ShowWindow(window.page, SW_SHOW);
    ShowWindow(frame, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(frame, &message)) continue;
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
