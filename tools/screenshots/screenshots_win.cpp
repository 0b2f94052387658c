// Draws the plug-in's settings windows for the README: the settings dialog
// with a few addresses, the address entry dialog, and the settings page in a
// window like the host's. Run under Wine with a display (make screenshots);
// writes settings.bmp, add_address.bmp and page.bmp beside itself.
//
// It is the stand-in host, loading the plug-in and framing its page with the
// same code: quorvel.dll, quorvel.txt and icons\noblock.ico sit in its own
// folder, modal windows are driven from a timer that their own message loop runs.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/host/mail/mail_inputs.h"
#include "tools/host/windows/page_frame_win.h"
#include "tools/host/windows/plugin_binding_win.h"
#include "ui/resource.h"

namespace {

std::string g_folder;  // with its trailing backslash
bool g_failed = false;

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
    if (FILE* out = std::fopen(CodePagePath(path).c_str(), "wb")) {
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
    HWND list = GetDlgItem(dialog, IDC_ADDRESS_LIST);
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    NMHDR click = {list, IDC_ADDRESS_LIST, static_cast<UINT>(NM_CLICK)};
    SendMessageA(dialog, WM_NOTIFY, IDC_ADDRESS_LIST, reinterpret_cast<LPARAM>(&click));
    SetFocus(list);
}

// Each dialog that comes up gets the next step, from a timer of its own loop.
int g_step = 0;

void CALLBACK RunStep(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND window = GetActiveWindow();
    // A modal dialog is activated while it initialises, and shown only when its
    // loop first finds the queue empty: on a busy machine the timer comes first,
    // and a hidden window is drawn black. Its turn comes again once it shows.
    if (!IsWindowVisible(window)) {
        // Each turn is at least a timer tick: a few seconds in all.
        static int turns = 0;
        if (++turns < 300) {
            SetTimer(nullptr, 0, 0, RunStep);
            return;
        }
        std::fprintf(stderr, "step %d: the dialog never showed\n", g_step);
        g_failed = true;
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    switch (g_step++) {
        case 0:  // the settings dialog
            SelectRow(window, 1);
            Capture(window, "settings.bmp");
            SendMessageA(GetDlgItem(window, IDC_ADD), BM_CLICK, 0, 0);
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
        case 1:  // the entry dialog over it
            SetDlgItemTextA(window, IDC_NEW_ADDRESS, "ann.lee@example.net");
            // The start of the address in view, as after typing Home.
            SendDlgItemMessageA(window, IDC_NEW_ADDRESS, EM_SETSEL, 0, 0);
            SendDlgItemMessageA(window, IDC_NEW_ADDRESS, EM_SCROLLCARET, 0, 0);
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

// The host's settings window: the page with OK, Cancel and Help under it.
void CapturePage(const Plugin& plugin) {
    PageFrame window;
    std::string error;
    if (!CreatePageFrame(plugin, window, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        g_failed = true;
        return;
    }
    ShowWindow(window.frame, SW_SHOW);
    ShowWindow(window.page, SW_SHOW);
    SelectRow(window.page, 0);
    Capture(window.frame, "page.bmp");
    DestroyWindow(window.frame);
}

}  // namespace

int main() {
    g_folder = ProgramFolder();
    // The plug-in reads its list when it is loaded.
    if (FILE* list = std::fopen(CodePagePath(g_folder + "quorvel.txt").c_str(), "wb")) {
        std::fputs(
            "ann.lee@example.com\r\nannie@example.org\r\nlee-family.example.net\r\n"
            "ann@work.example\r\n",
            list);
        std::fclose(list);
    }
    RegisterListView();
    Plugin plugin;
    std::string error;
    if (!LoadPlugin(g_folder, plugin, error) || !plugin.showSettings) {
        std::fprintf(stderr, "%s\n", error.empty() ? "no settings dialog" : error.c_str());
        return 1;
    }
    HHOOK hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    plugin.showSettings(nullptr);
    UnhookWindowsHookEx(hook);
    CapturePage(plugin);
    UnloadPlugin(plugin);
    return g_failed || g_step < 2 ? 1 : 0;
}
