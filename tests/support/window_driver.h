// The test program plays the host for the module's dialogs: it registers the
// list view's class, keeps its icons\noblock.ico beside itself, answers the
// plug-in's service requests, and drives modal windows from inside their own
// message loops, from a WH_CBT hook. Two ways to drive them: a WindowScript of
// steps, one per window in the order they come, and a PageDriver that shows the
// settings page in a host window and answers whatever its buttons open.
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

#include "plugin/host_api.h"
#include "tests/support/loaded_plugin.h"
#include "ui/resource.h"

// Message boxes keep their text in a static with this id.
constexpr int kMessageBoxText = 0xFFFF;

// One request as the host's callback sees it, read as raw bytes.
struct HostRequest {
    uint32_t size;
    std::string target;
    uint32_t code;
    HWND dialog;         // HS_ADAPT_DIALOG
    uint32_t textSize;   // HS_ADAPT_TEXT: the TextRequest's size member
    std::string source;  // HS_ADAPT_TEXT
    char* destination;   // HS_ADAPT_TEXT; valid only during the callback
    int32_t destinationSize;
};

inline HostRequest ReadRequest(const void* request) {
    HostRequest seen = {};
    seen.size = U32At(request, kRequestSize);
    seen.target = static_cast<const char*>(PointerAt(request, kRequestTarget));
    seen.code = U32At(request, kRequestCode);
    const void* data = PointerAt(request, kRequestData);
    if (seen.code == HS_ADAPT_DIALOG) {
        seen.dialog = static_cast<HWND>(const_cast<void*>(data));
    } else if (seen.code == HS_ADAPT_TEXT) {
        seen.textSize = U32At(data, kTextSize);
        seen.source = static_cast<const char*>(PointerAt(data, kTextSource));
        seen.destination = static_cast<char*>(const_cast<void*>(PointerAt(data, kTextDestination)));
        seen.destinationSize = static_cast<int32_t>(U32At(data, kTextDestinationSize));
    }
    return seen;
}

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
        HostRequest seen = ReadRequest(request);
        if (seen.code == HS_ADAPT_TEXT) {
            auto found = current_->translations.find(seen.source);
            if (found != current_->translations.end()) {
                lstrcpynA(seen.destination, found->second.c_str(), seen.destinationSize);
            }
        }
        seen.destination = nullptr;
        current_->requests.push_back(seen);
        return 0;
    }

    std::vector<std::string> TextSources() const {
        std::vector<std::string> sources;
        for (const auto& r : requests) {
            if (r.code == HS_ADAPT_TEXT) sources.push_back(r.source);
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
// When nothing happens for kPatienceMs while a window is open or expected,
// the test fails naming what it waited for, and the open windows are ended so
// that the modal calls return instead of hanging the program. With Otherwise,
// windows past the steps go to one step that answers them all.
class WindowScript {
  public:
    using Step = std::function<void(HWND)>;
    static constexpr DWORD kPatienceMs = 5000;

    WindowScript() {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
        lastProgress_ = GetTickCount();
        watchdog_ = SetTimer(nullptr, 0, 500, Watchdog);
    }
    ~WindowScript() {
        KillTimer(nullptr, watchdog_);
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " window(s) expected but never shown";
    }
    WindowScript(const WindowScript&) = delete;
    WindowScript& operator=(const WindowScript&) = delete;

    // what names the window in a failure, e.g. "the delete question".
    WindowScript& Then(Step step, std::string what = "") {
        if (what.empty()) {
            what = "window " + std::to_string(shown_.size() + steps_.size() + 1) + " of the script";
        }
        steps_.push_back({std::move(step), std::move(what)});
        return *this;
    }
    WindowScript& Otherwise(Step step) {
        otherwise_ = std::move(step);
        return *this;
    }

  private:
    struct Expected {
        Step step;
        std::string what;
    };

    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) {
            HWND window = reinterpret_cast<HWND>(wParam);
            // Dialogs and message boxes only: a host window is the test's own.
            char windowClass[16] = "";
            GetClassNameA(window, windowClass, sizeof windowClass);
            if (lstrcmpA(windowClass, "#32770") == 0 && current_->seen_.insert(window).second) {
                current_->shown_.push_back(window);
                current_->lastProgress_ = GetTickCount();
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
        // A dialog can be activated before its modal loop first shows it (Wine
        // does so after some earlier tests, depending on which window was last
        // active), and the editor fills its rows only as it shows. Wait for that,
        // with a timer that leaves the loop idle moments in which to show it.
        if (IsWindow(window) && !IsWindowVisible(window)) {
            current_->pending_[SetTimer(nullptr, 0, 10, RunStep)] = window;
            return;
        }
        current_->lastProgress_ = GetTickCount();
        if (current_->steps_.empty() && current_->otherwise_) {
            current_->otherwise_(window);
            return;
        }
        if (current_->steps_.empty()) {
            ADD_FAILURE() << "unexpected window \"" << TitleOf(window) << "\"";
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        Expected next = std::move(current_->steps_.front());
        current_->steps_.pop_front();
        next.step(window);
    }

    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
        WindowScript* self = current_;
        if (!self || GetTickCount() - self->lastProgress_ < kPatienceMs) return;
        std::vector<HWND> open;
        for (HWND window : self->shown_) {
            if (IsWindow(window)) open.push_back(window);
        }
        if (open.empty()) return;  // the test is between windows, not in one's loop
        self->lastProgress_ = GetTickCount();
        if (!self->steps_.empty()) {
            ADD_FAILURE() << "waited " << kPatienceMs / 1000 << " s for "
                          << self->steps_.front().what << ", which never came";
        } else {
            ADD_FAILURE() << "waited " << kPatienceMs / 1000 << " s for \"" << TitleOf(open.back())
                          << "\" to close";
        }
        self->steps_.clear();
        // Innermost first, so that each modal call returns to the one below it.
        for (auto window = open.rbegin(); window != open.rend(); ++window) {
            EndDialog(*window, IDCANCEL);
        }
    }

    static std::string TitleOf(HWND window) {
        char title[128] = "";
        GetWindowTextA(window, title, sizeof title);
        return title;
    }

    static inline WindowScript* current_ = nullptr;
    HHOOK hook_ = nullptr;
    UINT_PTR watchdog_ = 0;
    DWORD lastProgress_ = 0;
    std::deque<Expected> steps_;
    Step otherwise_;
    std::set<HWND> seen_;
    std::vector<HWND> shown_;
    std::map<UINT_PTR, HWND> pending_;
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
    return GetDlgItem(dialog, IDC_ADDRESS_LIST);
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
    click.hdr.idFrom = IDC_ADDRESS_LIST;
    click.hdr.code = NM_CLICK;
    click.iItem = row;
    SendMessageA(dialog, WM_NOTIFY, IDC_ADDRESS_LIST, reinterpret_cast<LPARAM>(&click));
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

// A message box as the user sees it: its icon is the one its static shows,
// which for the system's icons is the handle LoadIconA(nullptr, IDI_...) gives.
struct MessageBoxView {
    std::string caption;
    std::string text;
    std::vector<int> buttons;
    HICON icon = nullptr;
    HWND owner = nullptr;
};

inline MessageBoxView ViewMessageBox(HWND box) {
    MessageBoxView view = {
        TextOf(box), ItemText(box, kMessageBoxText), {}, nullptr, GetWindow(box, GW_OWNER)};
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        if (GetDlgItem(box, id)) view.buttons.push_back(id);
    }
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            view.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        }
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

// The row holding text, or -1.
inline int FindRow(HWND dialog, const std::string& text) {
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = text.c_str();
    return static_cast<int>(SendMessageA(ListOf(dialog), LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(&find)));
}

// The settings page inside parent, made as the host makes it: module, template
// and dialog procedure from the OptionsPageInfo record. Not shown yet.
inline HWND CreateSettingsPage(const LoadedPlugin& plugin, HWND parent) {
    const void* record = plugin.Service(RS_GET_OPTIONS_PAGE);
    EXPECT_NE(record, nullptr) << "no OptionsPageInfo record";
    if (!record) return nullptr;
    return CreateDialogParamA(
        static_cast<HINSTANCE>(const_cast<void*>(PointerAt(record, kOptionsPageInstance))),
        MAKEINTRESOURCEA(U32At(record, kOptionsPageTemplate)), parent,
        reinterpret_cast<DLGPROC>(const_cast<void*>(PointerAt(record, kOptionsPageDialogProc))), 0);
}

// A loaded module's settings page as the host shows it: made from the
// OptionsPageInfo record inside a host window. The address entry dialog gets
// the text of the last Add; message boxes are answered with the last Delete's
// answer (OK after an Add, and for a box with OK alone) and their texts kept.
class PageDriver {
  public:
    explicit PageDriver(const LoadedPlugin& plugin) {
        RegisterListView();
        host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr,
                                nullptr, nullptr, nullptr);
        page_ = CreateSettingsPage(plugin, host_);
        EXPECT_NE(page_, nullptr) << "the page was not created: " << GetLastError();
        if (!page_) return;
        ShowWindow(page_, SW_SHOW);
        script_.Otherwise([this](HWND window) { Answer(window); });
    }
    ~PageDriver() {
        if (page_) DestroyWindow(page_);
        if (host_) DestroyWindow(host_);
    }
    PageDriver(const PageDriver&) = delete;
    PageDriver& operator=(const PageDriver&) = delete;

    HWND page() const { return page_; }

    // The Add button, the text typed into the entry dialog, OK. A message box
    // that follows (the duplicate message) is answered with OK.
    void Add(const std::string& text) {
        typed_ = text;
        answer_ = IDOK;
        SendMessageA(page_, WM_COMMAND, IDC_ADD, 0);
    }

    // Selects the row holding text, presses Delete and answers the question.
    // False when there is no such row.
    bool Delete(const std::string& text, bool yes) {
        const int row = FindRow(page_, text);
        if (row < 0) return false;
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(ListOf(page_), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        answer_ = yes ? IDYES : IDNO;
        SendMessageA(page_, WM_COMMAND, IDC_DELETE, 0);
        return true;
    }

    // What the page answers: 1 when the list file holds the list.
    LRESULT Save() { return SendMessageA(page_, WM_SAVELIST, 0, 0); }

    std::vector<std::string> Rows() const { return ::Rows(page_); }

    // Texts of the message boxes shown so far, oldest first.
    std::vector<std::string> messages;

  private:
    void Answer(HWND window) {
        if (GetDlgItem(window, IDC_NEW_ADDRESS)) {
            SetDlgItemTextA(window, IDC_NEW_ADDRESS, typed_.c_str());
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        } else if (GetDlgItem(window, kMessageBoxText)) {
            messages.push_back(ItemText(window, kMessageBoxText));
            PostMessageA(window, WM_COMMAND, GetDlgItem(window, answer_) ? answer_ : IDOK, 0);
        } else {
            ADD_FAILURE() << "unexpected window \"" << TextOf(window) << "\"";
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        }
    }

    HWND host_ = nullptr;
    HWND page_ = nullptr;
    WindowScript script_;
    std::string typed_;
    int answer_ = IDNO;
};
