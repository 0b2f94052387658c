// The test program plays the host for the settings dialogs: it registers the
// list view's class, keeps its icons\noblock.ico beside itself, answers the
// plug-in's service requests, and drives modal windows from inside their own
// message loops.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/plugin/loaded_plugin.h"

constexpr int kIdAddressList = 1000;
constexpr int kIdDelete = 1002;
constexpr int kIdAdd = 1003;
constexpr int kIdNewAddress = 1005;
constexpr UINT kSaveList = 2025;
// Message boxes keep their text in a static with this id.
constexpr int kMessageBoxText = 0xFFFF;

constexpr uint32_t kAdaptDialog = 0x10000000;
constexpr uint32_t kAdaptText = 0x10000002;

// One request as the host's callback saw it, read as raw bytes.
struct HostRequest {
    uint32_t size;
    std::string target;
    uint32_t code;
    HWND dialog;         // kAdaptDialog
    uint32_t textSize;   // kAdaptText: the TextRequest's size member
    std::string source;  // kAdaptText
    int32_t destinationSize;
};

// The host's side of the service callback. Texts found in translations are
// answered with their translation; others are left as the plug-in put them.
class RecordingHost {
  public:
    RecordingHost() { current_ = this; }
    ~RecordingHost() { current_ = nullptr; }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    static int32_t __cdecl Callback(void* request) {
        if (!current_) return 0;
        const auto* raw = static_cast<const unsigned char*>(request);
        HostRequest seen = {};
        seen.size = U32At(raw, 0x00);
        seen.target = static_cast<const char*>(PointerAt(raw, 0x04));
        seen.code = U32At(raw, 0x08);
        const void* data = PointerAt(raw, 0x10);
        if (seen.code == kAdaptDialog) {
            seen.dialog = static_cast<HWND>(const_cast<void*>(data));
        } else if (seen.code == kAdaptText) {
            seen.textSize = U32At(data, 0x00);
            seen.source = static_cast<const char*>(PointerAt(data, 0x04));
            auto* destination = static_cast<char*>(const_cast<void*>(PointerAt(data, 0x08)));
            seen.destinationSize = static_cast<int32_t>(U32At(data, 0x0C));
            auto found = current_->translations.find(seen.source);
            if (found != current_->translations.end()) {
                lstrcpynA(destination, found->second.c_str(), seen.destinationSize);
            }
        }
        current_->requests.push_back(seen);
        return 0;
    }

    std::vector<std::string> TextSources() const {
        std::vector<std::string> sources;
        for (const auto& r : requests) {
            if (r.code == kAdaptText) sources.push_back(r.source);
        }
        return sources;
    }

    std::map<std::string, std::string> translations;
    std::vector<HostRequest> requests;

  private:
    static inline RecordingHost* current_ = nullptr;
};

// Runs one step for each window that becomes active for the first time (a
// dialog or a message box), in the order they come. A step runs from a timer
// that the window's own modal loop dispatches, so the window is fully up, and
// the step must end it. A window with no step left is cancelled, and fails.
class WindowScript {
  public:
    using Step = std::function<void(HWND)>;

    WindowScript() {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    }
    ~WindowScript() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " window(s) expected but never shown";
    }
    WindowScript(const WindowScript&) = delete;
    WindowScript& operator=(const WindowScript&) = delete;

    WindowScript& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

  private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) {
            HWND window = reinterpret_cast<HWND>(wParam);
            // Dialogs and message boxes only: a host window is the test's own.
            char windowClass[16] = "";
            GetClassNameA(window, windowClass, sizeof windowClass);
            if (lstrcmpA(windowClass, "#32770") == 0 && current_->seen_.insert(window).second) {
                const UINT_PTR timer = SetTimer(nullptr, 0, 0, RunStep);
                current_->pending_[timer] = window;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static void CALLBACK RunStep(HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        if (!current_) return;
        HWND window = current_->pending_[timer];
        current_->pending_.erase(timer);
        // A modal loop shows its dialog only once its queue is empty, and on a
        // busy machine this timer can come first: wait for the showing, within
        // bounds (the timer's least period is 10 ms), so the step sees the rows.
        if (IsWindow(window) && !IsWindowVisible(window) && current_->waits_[window]++ < 100) {
            current_->pending_[SetTimer(nullptr, 0, 0, RunStep)] = window;
            return;
        }
        if (current_->steps_.empty()) {
            char title[128] = "";
            GetWindowTextA(window, title, sizeof title);
            ADD_FAILURE() << "unexpected window \"" << title << "\"";
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        Step step = std::move(current_->steps_.front());
        current_->steps_.pop_front();
        step(window);
    }

    static inline WindowScript* current_ = nullptr;
    HHOOK hook_ = nullptr;
    std::deque<Step> steps_;
    std::set<HWND> seen_;
    std::map<UINT_PTR, HWND> pending_;
    std::map<HWND, int> waits_;
};

// What a user sees in a dialog.
inline std::string TextOf(HWND window) {
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string ItemText(HWND dialog, int id) {
    return TextOf(GetDlgItem(dialog, id));
}

inline bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

inline HWND ListOf(HWND dialog) {
    return GetDlgItem(dialog, kIdAddressList);
}

// The rows top to bottom.
inline std::vector<std::string> Rows(HWND dialog) {
    HWND list = ListOf(dialog);
    std::vector<std::string> rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[300] = "";
        LVITEMA item = {};
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        rows.push_back(text);
    }
    return rows;
}

inline int SelectedRow(HWND dialog) {
    return static_cast<int>(
        SendMessageA(ListOf(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Selects a row as a click on it would, notification included.
inline void ClickRow(HWND dialog, int row) {
    HWND list = ListOf(dialog);
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    NMITEMACTIVATE click = {};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = kIdAddressList;
    click.hdr.code = NM_CLICK;
    click.iItem = row;
    SendMessageA(dialog, WM_NOTIFY, kIdAddressList, reinterpret_cast<LPARAM>(&click));
}

// A click on an enabled button; returns when the dialog has handled it, nested
// modal windows included.
inline void Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    EXPECT_TRUE(IsWindowEnabled(button)) << "button " << id << " is disabled";
    SendMessageA(button, BM_CLICK, 0, 0);
}

// A key pressed in a control, as the keyboard would send it.
inline void PressKey(HWND control, WPARAM key) {
    SendMessageA(control, WM_KEYDOWN, key, 1);
    SendMessageA(control, WM_KEYUP, key, 0xC0000001);
}

// A message box as the user sees it.
struct MessageBoxView {
    std::string caption;
    std::string text;
    std::vector<int> buttons;
};

inline MessageBoxView ViewMessageBox(HWND box) {
    MessageBoxView view = {TextOf(box), ItemText(box, kMessageBoxText), {}};
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        if (GetDlgItem(box, id)) view.buttons.push_back(id);
    }
    return view;
}

// The program's own folder, where the plug-in looks for the host's icon.
inline std::filesystem::path HostIconPath() {
    return BuildFolder() / "icons" / "noblock.ico";
}

inline void PlaceHostIcon() {
    std::error_code ignored;
    std::filesystem::create_directories(HostIconPath().parent_path(), ignored);
    std::filesystem::copy_file(std::filesystem::path(QUORVEL_SOURCE) / "plugin" / "quorvel.ico",
                               HostIconPath(), std::filesystem::copy_options::overwrite_existing,
                               ignored);
}

inline void RegisterListView() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}
