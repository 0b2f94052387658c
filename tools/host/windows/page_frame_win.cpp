#include "tools/host/windows/page_frame_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "plugin/host_api.h"
#include "tools/host/mail/mail_inputs.h"
#include "ui/resource.h"

namespace {

constexpr int IDC_HELP_BUTTON = 100;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFrameExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
const char kFrameClass[] = "QuorvelHostSettings";

void ShowHelp(HWND frame, const PageFrame& window) {
    const std::wstring path = WideFromUtf8(window.helpPath);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring text = L"There is no help document at " + path + L".";
        MessageBoxW(frame, text.c_str(), L"quorvel-host", MB_OK | MB_ICONINFORMATION);
        return;
    }
    ShellExecuteW(frame, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<PageFrame*>(GetWindowLongPtrA(frame, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (!window) break;
            switch (LOWORD(wParam)) {
                case IDOK:
                    window->closedWithOk = true;
                    window->saved = SendMessageA(window->page, WM_SAVELIST, 0, 0) == kListSaved;
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

void RegisterFrameClass(HINSTANCE instance) {
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = instance;
    frameClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);  // fails harmlessly when a second frame registers again
}

void AddButton(HWND frame, const char* text, int id, int x, int y, bool isDefault) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : 0);
    HWND button = CreateWindowExA(0, "BUTTON", text, style, x, y, kButtonWidth, kButtonHeight,
                                  frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  GetModuleHandleA(nullptr), nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
}

// The frame is the page plus a row of buttons under it.
void LayOut(HWND frame, HWND page) {
    RECT pageRect;
    GetWindowRect(page, &pageRect);
    const int pageWidth = pageRect.right - pageRect.left;
    const int pageHeight = pageRect.bottom - pageRect.top;
    SetWindowPos(page, nullptr, kMargin, kMargin, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const int buttonsY = kMargin + pageHeight + kMargin;
    int x = kMargin + pageWidth - 3 * kButtonWidth - 2 * kMargin;
    AddButton(frame, "OK", IDOK, x, buttonsY, true);
    AddButton(frame, "Cancel", IDCANCEL, x += kButtonWidth + kMargin, buttonsY, false);
    AddButton(frame, "Help", IDC_HELP_BUTTON, x + kButtonWidth + kMargin, buttonsY, false);
    RECT frameRect = {0, 0, kMargin + pageWidth + kMargin, buttonsY + kButtonHeight + kMargin};
    AdjustWindowRectEx(&frameRect, kFrameStyle, FALSE, kFrameExStyle);
    SetWindowPos(frame, nullptr, 0, 0, frameRect.right - frameRect.left,
                 frameRect.bottom - frameRect.top, SWP_NOMOVE | SWP_NOZORDER);
}

}  // namespace

void RegisterListView() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

bool CreatePageFrame(const Plugin& plugin, PageFrame& window, std::string& error) {
    const unsigned char* record = plugin.page;
    const auto dialogProc = record ? PointerAt<DLGPROC>(record, kOptionsPageDialogProc) : nullptr;
    if (!dialogProc) {
        error = "this quorvel.dll has no settings dialog";
        return false;
    }
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterFrameClass(instance);
    const char* caption = PointerAt<const char*>(record, kOptionsPageCaption);
    const std::string title =
        std::string("Settings - ") + (caption ? caption : plugin.name.c_str());
    HWND frame =
        CreateWindowExA(kFrameExStyle, kFrameClass, title.c_str(), kFrameStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, nullptr);
    if (!frame) {
        error = "cannot create a window (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (const char* help = PointerAt<const char*>(record, kOptionsPageHelpDocument)) {
        window.helpPath = PluginFolder(plugin) + Utf8FromCodePage(help);
    }
    SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    if (HICON icon = PointerAt<HICON>(record, kOptionsPageIcon)) {
        SendMessageA(frame, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    window.frame = frame;
    window.page = CreateDialogParamA(PointerAt<HINSTANCE>(record, kOptionsPageInstance),
                                     MAKEINTRESOURCEA(U32At(record, kOptionsPageTemplate)), frame,
                                     dialogProc, 0);
    if (!window.page) {
        error = "the plug-in's page could not be created (error " + std::to_string(GetLastError()) +
                ")";
        DestroyWindow(frame);
        window.frame = nullptr;
        return false;
    }
    LayOut(frame, window.page);
    return true;
}
