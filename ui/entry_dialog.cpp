#include "ui/entry_dialog.h"

#include "ui/dialog_text.h"
#include "ui/module_link.h"
#include "ui/resource.h"

namespace {

constexpr int kAddressSize = 260;

// Reads the edit field into buffer (at most 259 bytes) and keeps what the list
// file can hold of it.
void ReadAddress(HWND dialog, char* buffer) {
    GetDlgItemTextA(dialog, IDC_NEW_ADDRESS, buffer, kAddressSize);
    CleanAddress(buffer);
}

INT_PTR OnInitDialog(HWND dialog, LPARAM resultBuffer) {
    AdaptDialog(dialog);
    SetWindowLongPtrA(dialog, DWLP_USER, resultBuffer);
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    return TRUE;  // the focus goes to the edit field
}

void OnAddressChange(HWND dialog) {
    char address[kAddressSize];
    ReadAddress(dialog, address);
    EnableWindow(GetDlgItem(dialog, IDOK), address[0] != '\0');
}

void OnOk(HWND dialog) {
    if (auto* result = reinterpret_cast<char*>(GetWindowLongPtrA(dialog, DWLP_USER))) {
        ReadAddress(dialog, result);
    }
    EndDialog(dialog, 1);
}

INT_PTR OnCommand(HWND dialog, int id, int code) {
    if (code == EN_CHANGE && id == IDC_NEW_ADDRESS) {
        OnAddressChange(dialog);
        return TRUE;
    }
    switch (id) {
        case IDOK:
            OnOk(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
    }
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK AddAddressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog, lParam);
        case WM_COMMAND:
            return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}
