// Draws the plug-in's settings windows for the README: the settings dialog
// with a few addresses, the address entry dialog, and the settings page in a
// window like the host's. Run under Wine with a display (make screenshots);
// writes settings.bmp, add_address.bmp and page.bmp beside itself.
//
// It plays the host as the test programs do: quorvel.dll, quorvel.txt and
// icons\noblock.ico sit in its own folder, modal windows are driven from a
// timer that their own message loop runs.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kIdAddressList = 1000;
constexpr int kIdAdd = 1003;
constexpr int kIdNewAddress = 1005;

std::string g_folder;  // with its trailing backslash
bool g_failed = false;

std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\')) slash[1] = '\0';
    return path;
}

// Writes what the window shows, frame included, as a 24-bit bottom-up BMP.
void Capture(HWND window, const char* name) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();

    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    const std::string path = g_folder + name;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        std::fwrite(bits, 1, imageSize, out);
        std::fclose(out);
        std::printf("%s: %d x %d\n", name, width, height);
    } else {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        g_failed = true;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
}

// Selects a row as a click would, so Delete shows enabled.
void SelectRow(HWND dialog, int row) {
    HWND list = GetDlgItem(dialog, kIdAddressList);
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    NMHDR click = {list, kIdAddressList, static_cast<UINT>(NM_CLICK)};
    SendMessageA(dialog, WM_NOTIFY, kIdAddressList, reinterpret_cast<LPARAM>(&click));
    SetFocus(list);
}

// Each dialog that comes up gets the next step, from a timer of its own loop.
int g_step = 0;

void CALLBACK RunStep(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND window = GetActiveWindow();
    switch (g_step++) {
        case 0:  // the settings dialog
            SelectRow(window, 1);
            Capture(window, "settings.bmp");
            SendMessageA(GetDlgItem(window, kIdAdd), BM_CLICK, 0, 0);
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
        case 1:  // the entry dialog over it
            SetDlgItemTextA(window, kIdNewAddress, "ann.lee@example.net");
            // The start of the address in view, as after typing Home.
            SendDlgItemMessageA(window, kIdNewAddress, EM_SETSEL, 0, 0);
            SendDlgItemMessageA(window, kIdNewAddress, EM_SCROLLCARET, 0, 0);
            Capture(window, "add_address.bmp");
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
        default:
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
    }
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        char windowClass[16] = "";
        GetClassNameA(reinterpret_cast<HWND>(wParam), windowClass, sizeof windowClass);
        // Dialogs only, and each once: closing the entry dialog activates the
        // settings dialog again.
        static HWND seen[8];
        static int count = 0;
        bool known = false;
        for (int i = 0; i < count; ++i) known |= seen[i] == reinterpret_cast<HWND>(wParam);
        if (!known && count < 8 && lstrcmpA(windowClass, "#32770") == 0) {
            seen[count++] = reinterpret_cast<HWND>(wParam);
            SetTimer(nullptr, 0, 0, RunStep);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

uint32_t U32At(const void* base, size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const char*>(base) + offset, 4);
    return value;
}
void* PointerAt(const void* base, size_t offset) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(U32At(base, offset)));
}

// The host's settings window: the page with OK, Cancel and Help under it.
void CapturePage(void* pageRecord) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND frame = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, "#32770",
                                 "Settings - Addressees", WS_POPUP | WS_CAPTION | WS_SYSMENU, 40,
                                 40, 400, 300, nullptr, nullptr, instance, nullptr);
    HWND page = CreateDialogParamA(static_cast<HINSTANCE>(PointerAt(pageRecord, 0x08)),
                                   MAKEINTRESOURCEA(U32At(pageRecord, 0x0C)), frame,
                                   reinterpret_cast<DLGPROC>(PointerAt(pageRecord, 0x10)), 0);
    if (!frame || !page) {
        std::fprintf(stderr, "cannot create the page (error %lu)\n", GetLastError());
        g_failed = true;
        return;
    }
    SendMessageA(frame, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    if (HICON icon = static_cast<HICON>(PointerAt(pageRecord, 0x20))) {
        SendMessageA(frame, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    constexpr int kMargin = 8, kButtonWidth = 75, kButtonHeight = 23;
    RECT pageRect;
    GetWindowRect(page, &pageRect);
    const int pageWidth = pageRect.right - pageRect.left;
    const int pageHeight = pageRect.bottom - pageRect.top;
    SetWindowPos(page, nullptr, kMargin, kMargin, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const int buttonsY = kMargin + pageHeight + kMargin;
    int x = kMargin + pageWidth - 3 * kButtonWidth - 2 * kMargin;
    const struct {
        const char* text;
        int id;
    } buttons[] = {{"OK", IDOK}, {"Cancel", IDCANCEL}, {"Help", IDHELP}};
    for (const auto& b : buttons) {
        HWND button = CreateWindowExA(
            0, "BUTTON", b.text,
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | (b.id == IDOK ? BS_DEFPUSHBUTTON : 0), x, buttonsY,
            kButtonWidth, kButtonHeight, frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)),
            instance, nullptr);
        SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
        x += kButtonWidth + kMargin;
    }
    RECT frameRect = {0, 0, kMargin + pageWidth + kMargin, buttonsY + kButtonHeight + kMargin};
    AdjustWindowRectEx(&frameRect, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE,
                       WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
    SetWindowPos(frame, nullptr, 0, 0, frameRect.right - frameRect.left,
                 frameRect.bottom - frameRect.top, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(frame, SW_SHOW);
    ShowWindow(page, SW_SHOW);
    SelectRow(page, 0);
    Capture(frame, "page.bmp");
    DestroyWindow(frame);
}

}  // namespace

int main() {
    g_folder = ProgramFolder();
    // The plug-in reads its list when it is loaded.
    if (FILE* list = std::fopen((g_folder + "quorvel.txt").c_str(), "wb")) {
        std::fputs(
            "ann.lee@example.com\r\nannie@example.org\r\nlee-family.example.net\r\n"
            "ann@work.example\r\n",
            list);
        std::fclose(list);
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    HMODULE plugin = LoadLibraryA((g_folder + "quorvel.dll").c_str());
    if (!plugin) {
        std::fprintf(stderr, "cannot load quorvel.dll beside the program\n");
        return 1;
    }
    using GetInfoFn = void*(__cdecl*)();
    using ReceiveServiceFn = void*(__cdecl*)(void*);
    using ShowSettingsFn = int32_t(__cdecl*)(HWND);
    auto getInfo = reinterpret_cast<GetInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin, "GetSpamCheckPluginInfo")));
    auto receiveService = reinterpret_cast<ReceiveServiceFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin, "ReceiveService")));
    if (!getInfo || !receiveService) return 1;

    HHOOK hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    auto showSettings = reinterpret_cast<ShowSettingsFn>(PointerAt(getInfo(), 0x100));
    showSettings(nullptr);
    UnhookWindowsHookEx(hook);

    uint32_t request[5] = {20, 0, 2, 0, 0};  // the settings page's record
    if (void* pageRecord = receiveService(request)) CapturePage(pageRecord);
    return g_failed || g_step < 2 ? 1 : 0;
}
