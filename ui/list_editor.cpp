#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "addresses/address_list.h"
#include "plugin/dialog_host.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"
#include "ui/entry_dialog.h"
#include "ui/resource.h"

namespace {

constexpr int kAddressSize = 260;
constexpr int kTextSize = 1024;
// Room for a question from a 1023-byte format with one %s and a 259-byte address.
constexpr int kMessageSize = kTextSize + kAddressSize;

const char kCaption[] = "Quorvel";
const char kDeleteQuestion[] = "Do you want to delete the email address \"%s\"?";
const char kDuplicateMessage[] = "This email address is already in the list!";
const char kHostIcon[] = "icons\\noblock.ico";

HWND AddressListView(HWND dialog) {
    return GetDlgItem(dialog, IDC_ADDRESS_LIST);
}

int SelectedRow(HWND list) {
    return static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
}

// Enables Delete exactly when the list view has a selected row.
void UpdateDeleteButton(HWND dialog) {
    const bool selected = SelectedRow(AddressListView(dialog)) >= 0;
    EnableWindow(GetDlgItem(dialog, IDC_DELETE), selected);
}

int InsertRow(HWND list, const char* text) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.pszText = const_cast<char*>(text);
    item.iImage = 0;
    return static_cast<int>(
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

// The host's "allowed" icon from its own folder; null when it can't be loaded.
// Caller destroys it.
HINSTANCE Module() {
    return static_cast<HINSTANCE>(ModuleInstance());
}

HICON LoadHostIcon() {
    char path[kPathSize];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A full buffer is a truncated path, which XP does not even terminate.
    if (length == 0 || length >= sizeof path) return nullptr;
    if (!ReplaceFileName(path, sizeof path, kHostIcon)) return nullptr;
    return static_cast<HICON>(LoadImageA(nullptr, path, IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
}

HIMAGELIST CreateRowImages() {
    HIMAGELIST images = ImageList_Create(
        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), ILC_COLOR32 | ILC_MASK, 2, 2);
    if (!images) return nullptr;
    if (HICON icon = LoadHostIcon()) {
        ImageList_AddIcon(images, icon);  // copies the icon
        DestroyIcon(icon);
    }
    return images;
}

INT_PTR OnInitDialog(HWND dialog) {
    AdaptDialog(dialog);
    HWND list = AddressListView(dialog);
    // Not shared, so the list view destroys the image list with itself.
    if (HIMAGELIST images = CreateRowImages()) {
        SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_SUBITEMIMAGES, LVS_EX_SUBITEMIMAGES);
    RECT client = {};
    GetClientRect(list, &client);
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL);
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    UpdateDeleteButton(dialog);
    return TRUE;
}

// Rebuilt each time the window shows or hides, so a page shown again reflects
// edits made elsewhere; the list view's sort puts the rows in order.
void FillRows(HWND dialog) {
    HWND list = AddressListView(dialog);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    {
        ListLock lock;
        for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
            InsertRow(list, entry->text);
        }
    }
    UpdateDeleteButton(dialog);
}

void DeleteSelected(HWND dialog) {
    HWND list = AddressListView(dialog);
    const int row = SelectedRow(list);
    if (row < 0) return;
    char address[kAddressSize] = "";
    LVITEMA item = {};
    item.pszText = address;
    item.cchTextMax = sizeof address;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));

    // The host's text is never a format: a stray conversion in a translation
    // would read or write the host's memory. Anything but one %s gets ours.
    char format[kTextSize];
    AdaptText(kDeleteQuestion, format, sizeof format);
    char question[kMessageSize];
    if (!FillInAddress(format, address, question, sizeof question)) {
        FillInAddress(kDeleteQuestion, address, question, sizeof question);
    }
    if (MessageBoxA(dialog, question, kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return;

    // The rows may have been rebuilt while the question was open (the host hid
    // and showed the page): the row to go is the one holding the address now.
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int candidate = (row + i) % count;
        char text[kAddressSize] = "";
        item.pszText = text;
        SendMessageA(list, LVM_GETITEMTEXTA, candidate, reinterpret_cast<LPARAM>(&item));
        if (std::strcmp(text, address) == 0) {
            SendMessageA(list, LVM_DELETEITEM, candidate, 0);
            break;
        }
    }
    {
        ListLock lock;
        if (AddressEntry* entry = FindAddress(address)) RemoveAddress(entry);
    }
    UpdateDeleteButton(dialog);
}

// Adds address unless the list holds it already (ASCII case ignored). The list
// changes first, so no row ever shows an address that failed to go in.
enum class AddResult { Added, Duplicate, Failed };
AddResult AddToList(const char* address) {
    ListLock lock;
    if (FindAddress(address)) return AddResult::Duplicate;
    return AddAddress(address) ? AddResult::Added : AddResult::Failed;
}

void ShowNewRow(HWND list, const char* address) {
    const int row = InsertRow(list, address);
    if (row < 0) return;
    SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    SetFocus(list);
}

void AddNew(HWND dialog) {
    char address[kAddressSize] = "";
    const INT_PTR ended = DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_ADD_ADDRESS), dialog,
                                          AddAddressDlgProc, reinterpret_cast<LPARAM>(address));
    // An empty address would match every header: OK is disabled for it, but a
    // host could still send the command.
    if (ended != 1 || address[0] == '\0') return;
    switch (AddToList(address)) {
        case AddResult::Added:
            ShowNewRow(AddressListView(dialog), address);
            break;
        case AddResult::Duplicate: {
            char message[kTextSize];
            AdaptText(kDuplicateMessage, message, sizeof message);
            MessageBoxA(dialog, message, kCaption, MB_OK | MB_ICONERROR);
            break;
        }
        case AddResult::Failed:
            break;
    }
    UpdateDeleteButton(dialog);
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header) {
    if (!header || header->idFrom != IDC_ADDRESS_LIST) return TRUE;
    switch (header->code) {
        case NM_CLICK:
        case NM_DBLCLK:
        case NM_RCLICK:
        case NM_RDBLCLK:
        case NM_RELEASEDCAPTURE:
        case LVN_ITEMCHANGED:  // the keyboard, or anything else, moved the selection
            UpdateDeleteButton(dialog);
            break;
        case LVN_KEYDOWN:
            UpdateDeleteButton(dialog);
            if (reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) {
                SendMessageA(dialog, WM_COMMAND, IDC_DELETE, 0);
            }
            break;
    }
    return TRUE;
}

INT_PTR OnCommand(HWND dialog, int id) {
    switch (id) {
        case IDOK:
            SendMessageA(dialog, WM_SAVELIST, 0, 0);
            EndDialog(dialog, 1);
            break;
        case IDCANCEL:
            // The edits stay in force for the checks; only the file is not written.
            EndDialog(dialog, 0);
            break;
        case IDC_DELETE:
            DeleteSelected(dialog);
            break;
        case IDC_ADD:
            AddNew(dialog);
            break;
    }
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK AddressListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_SHOWWINDOW:
            FillRows(dialog);
            return TRUE;
        case WM_NOTIFY:
            return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        case WM_SAVELIST:
            // What the sender's SendMessage returns: 1 when the file holds the list.
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, SaveAddressList() ? 1 : 0);
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(dialog, LOWORD(wParam));
    }
    return FALSE;
}

int32_t ShowSettings(HWND parent) {
    return static_cast<int32_t>(
        DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_SETTINGS), parent, AddressListDlgProc, 0));
}
