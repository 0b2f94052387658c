// Drives a loaded module's settings page as the host and a user would: the page
// is made from the OptionsPageInfo record inside a host window; rows are
// selected by message; the address entry dialog and the message boxes are
// answered from a WH_CBT hook, which also keeps each message box's text.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/reliability/module_copy.h"

class PageDriver {
  public:
    static constexpr int kAddressList = 1000, kDelete = 1002, kAdd = 1003, kNewAddress = 1005;
    static constexpr UINT kSaveList = 2025;

    explicit PageDriver(const ModuleCopy& plugin) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr,
                                nullptr, nullptr, nullptr);
        const void* record = plugin.Service(2);
        EXPECT_NE(record, nullptr) << "no OptionsPageInfo record";
        if (!record) return;
        const auto instance = reinterpret_cast<HINSTANCE>(const_cast<void*>(PointerAt(record, 8)));
        const auto templateId = static_cast<WORD>(U32At(record, 0x0C));
        const auto procedure =
            reinterpret_cast<DLGPROC>(const_cast<void*>(PointerAt(record, 0x10)));
        page_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), host_, procedure, 0);
        EXPECT_NE(page_, nullptr) << "the page was not created: " << GetLastError();
        ShowWindow(page_, SW_SHOW);
        hook_ = SetWindowsHookExA(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
        current_ = this;
    }
    ~PageDriver() {
        current_ = nullptr;
        if (hook_) UnhookWindowsHookEx(hook_);
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
        SendMessageA(page_, WM_COMMAND, kAdd, 0);
    }

    // Selects the row holding text, presses Delete and answers the question.
    // False when there is no such row.
    bool Delete(const std::string& text, bool yes) {
        LVFINDINFOA find = {};
        find.flags = LVFI_STRING;
        find.psz = text.c_str();
        const HWND list = GetDlgItem(page_, kAddressList);
        const auto row = static_cast<int>(SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                                       reinterpret_cast<LPARAM>(&find)));
        if (row < 0) return false;
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        answer_ = yes ? IDYES : IDNO;
        SendMessageA(page_, WM_COMMAND, kDelete, 0);
        return true;
    }

    // What the page answers: 1 when the list file holds the list.
    LRESULT Save() { return SendMessageA(page_, kSaveList, 0, 0); }

    std::vector<std::string> Rows() const {
        const HWND list = GetDlgItem(page_, kAddressList);
        std::vector<std::string> rows;
        const auto count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            char text[300] = {};
            LVITEMA item = {};
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            rows.push_back(text);
        }
        return rows;
    }

    // Texts of the message boxes shown so far, oldest first.
    std::vector<std::string> messages;

  private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        PageDriver* self = current_;
        if (code == HCBT_ACTIVATE && self) {
            const auto window = reinterpret_cast<HWND>(wParam);
            char className[16] = {};
            GetClassNameA(window, className, sizeof className);
            if (GetDlgItem(window, kNewAddress)) {
                SetDlgItemTextA(window, kNewAddress, self->typed_.c_str());
                PostMessageA(window, WM_COMMAND, IDOK, 0);
            } else if (std::string(className) == "#32770" && GetDlgItem(window, 0xFFFF)) {
                char text[4096] = {};
                GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
                self->messages.push_back(text);
                PostMessageA(window, WM_COMMAND, self->answer_, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline PageDriver* current_ = nullptr;
    HWND host_ = nullptr;
    HWND page_ = nullptr;
    HHOOK hook_ = nullptr;
    std::string typed_;
    int answer_ = IDNO;
};
