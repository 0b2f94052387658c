#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"
#include "ui/entry_dialog.h"
#include "ui/module_link.h"
#include "ui/resource.h"
#include "ui/sorted_rows.h"

namespace {

constexpr int kAddressSize = 260;
constexpr int kTextSize = 1024;
// Room for a question from a 1023-byte format with one %s and a 259-byte address.
constexpr int kMessageSize = kTextSize + kAddressSize;

const char kCaption[] = "Quorvel";
const char kDeleteQuestion[] = "Do you want to delete the email address \"%s\"?";
const char kDuplicateMessage[] = "This email address is already in the list!";
const char kSaveFailedMessage[] =
    "The address list could not be saved. Your changes count until the mail filter is closed.";
const char kHostIcon[] = "icons\\noblock.ico";

HWND AddressListView(HWND dialog) {
    return GetDlgItem(dialog, IDC_ADDRESS_LIST);
}

int SelectedRow(HWND list) {
    return static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
}

// Enables Delete exactly when the list view has a selected row. The control
// keeps its count of selected rows; finding the first one instead would walk
// the rows, on every showing of a long list.
void UpdateDeleteButton(HWND dialog) {
    HWND list = AddressListView(dialog);
    HWND button = GetDlgItem(dialog, IDC_DELETE);
    const bool selected = SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
    // A disabled window keeps the focus it had, and the keyboard would then
    // reach nothing until a click.
    if (!selected && button && GetFocus() == button) {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    }
    EnableWindow(button, selected);
}

// First, unless the control sorts its rows: then where the text belongs.
int InsertRow(HWND list, const char* text) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.pszText = const_cast<char*>(text);
    item.iImage = 0;
    return static_cast<int>(
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

HINSTANCE Module() {
    return static_cast<HINSTANCE>(ModuleInstance());
}

// The host's path, and then its icon's beside it.
constexpr int kHostPathSize = MAX_PATH;

// The host's "allowed" icon from its own folder; null when it can't be loaded.
// Caller destroys it.
HICON LoadHostIcon() {
    char path[kHostPathSize];
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

// Drawing off while the rows change: a list view may lay out every row again
// after each change it draws (Wine's does, at some 0.5 µs a row), but only once
// when drawing comes back on.
class RedrawOff {
  public:
    explicit RedrawOff(HWND list) : list_(list) { SendMessageA(list_, WM_SETREDRAW, FALSE, 0); }
    ~RedrawOff() {
        SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list_, nullptr, TRUE);
    }
    RedrawOff(const RedrawOff&) = delete;
    RedrawOff& operator=(const RedrawOff&) = delete;

  private:
    HWND list_;
};

// The list's change count when the rows were last filled from it, kept in the
// dialog's own slot; 0 until the first fill, and after a fill that fell short.
uint32_t FilledAt(HWND dialog) {
    return static_cast<uint32_t>(GetWindowLongPtrA(dialog, DWLP_USER));
}
void SetFilledAt(HWND dialog, uint32_t count) {
    SetWindowLongPtrA(dialog, DWLP_USER, static_cast<LONG_PTR>(count));
}

// An edit made here keeps rows that were in step with the list in step.
// Caller holds the list's lock across the edit.
class RowsInStep {
  public:
    explicit RowsInStep(HWND dialog)
        : dialog_(dialog), inStep_(FilledAt(dialog) == ListChangeCount()) {}
    void EditDone(bool rowsFollowed) const {
        if (inStep_) SetFilledAt(dialog_, rowsFollowed ? ListChangeCount() : 0);
    }

  private:
    HWND dialog_;
    bool inStep_;
};

// The control's sort off while rows already in its order go in: sorting, it
// would search for each row's place, some 2 µs a row under Wine. Back on, it
// sorts every later insert itself.
class SortOff {
  public:
    explicit SortOff(HWND list) : list_(list), style_(GetWindowLongPtrA(list, GWL_STYLE)) {
        SetWindowLongPtrA(list_, GWL_STYLE, style_ & ~static_cast<LONG_PTR>(LVS_SORTASCENDING));
    }
    ~SortOff() { SetWindowLongPtrA(list_, GWL_STYLE, style_); }
    SortOff(const SortOff&) = delete;
    SortOff& operator=(const SortOff&) = delete;

  private:
    HWND list_;
    LONG_PTR style_;
};

// Rebuilt when the window shows or hides and the list has changed since the
// last fill, so a page shown again reflects edits made elsewhere.
void FillRows(HWND dialog) {
    HWND list = AddressListView(dialog);
    RowsToShow rows;
    uint32_t changes = 0;
    {
        ListLock lock;
        changes = ListChangeCount();
        if (FilledAt(dialog) == changes) {
            UpdateDeleteButton(dialog);
            return;
        }
        if (!rows.Take()) {
            // No room to copy and order them: the control sorts the same rows,
            // only slower, and the texts must stay put meanwhile.
            const RedrawOff drawnOnceAtTheEnd(list);
            SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
            struct Filling {
                HWND list;
                size_t count, inserted;
            } filling = {list, 0, 0};
            VisitAddressTexts(
                [](void* context, const char* text) {
                    auto& f = *static_cast<Filling*>(context);
                    ++f.count;
                    f.inserted += InsertRow(f.list, text) >= 0;
                    return true;
                },
                &filling);
            SetFilledAt(dialog, filling.inserted == filling.count ? changes : 0);
            UpdateDeleteButton(dialog);
            return;
        }
    }
    // The list may change from here on; its change count then differs from the
    // one the rows were taken at, and the next showing fills them again.
    const RedrawOff drawnOnceAtTheEnd(list);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(list, LVM_SETITEMCOUNT, rows.Count(), 0);
    size_t inserted = 0;
    {
        // Each row goes first. Appended in ascending order, the rows would go in
        // a little sooner, but a list view that frees its rows last to first,
        // looking each up from the first made (Wine's does), would then close
        // 100,000 of them in 1.6 s instead of 0.35 s.
        const SortOff inOrderAlready(list);
        for (size_t i = 0; i < rows.Count(); ++i) inserted += InsertRow(list, rows.Text(i)) >= 0;
    }
    SetFilledAt(dialog, inserted == rows.Count() ? changes : 0);
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
    int gone = -1;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count && gone < 0; ++i) {
        const int candidate = (row + i) % count;
        char text[kAddressSize] = "";
        item.pszText = text;
        SendMessageA(list, LVM_GETITEMTEXTA, candidate, reinterpret_cast<LPARAM>(&item));
        if (std::strcmp(text, address) == 0) gone = candidate;
    }
    {
        ListLock lock;
        const RowsInStep rows(dialog);
        bool rowGone = false;
        if (gone >= 0) {
            const RedrawOff drawnOnce(list);
            rowGone = SendMessageA(list, LVM_DELETEITEM, gone, 0) != 0;
        }
        AddressEntry* entry = FindAddress(address);
        if (entry) RemoveAddress(entry);
        rows.EditDone(rowGone && entry);
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

// Returns false when the control could not take the row.
bool ShowNewRow(HWND list, const char* address) {
    int row;
    {
        const RedrawOff drawnOnce(list);
        row = InsertRow(list, address);
        if (row < 0) return false;
        SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED;
        state.state = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    }
    // Scrolls only with drawing on.
    SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    SetFocus(list);
    return true;
}

void AddNew(HWND dialog) {
    char address[kAddressSize] = "";
    const INT_PTR ended = DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_ADD_ADDRESS), dialog,
                                          AddAddressDlgProc, reinterpret_cast<LPARAM>(address));
    // An empty address would match every header: OK is disabled for it, but a
    // host could still send the command.
    if (ended != 1 || address[0] == '\0') return;
    AddResult result;
    {
        ListLock lock;
        const RowsInStep rows(dialog);
        result = AddToList(address);
        if (result == AddResult::Added) rows.EditDone(ShowNewRow(AddressListView(dialog), address));
    }
    if (result == AddResult::Duplicate) {
        char message[kTextSize];
        AdaptText(kDuplicateMessage, message, sizeof message);
        MessageBoxA(dialog, message, kCaption, MB_OK | MB_ICONERROR);
    }
    UpdateDeleteButton(dialog);
}

bool SelectionChanged(const NMLISTVIEW& change) {
    return (change.uChanged & LVIF_STATE) &&
           ((change.uOldState ^ change.uNewState) & LVIS_SELECTED);
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header) {
    if (!header || header->idFrom != IDC_ADDRESS_LIST) return TRUE;
    switch (header->code) {
        case NM_CLICK:
        case NM_DBLCLK:
        case NM_RCLICK:
        case NM_RDBLCLK:
        case NM_RELEASEDCAPTURE:
            UpdateDeleteButton(dialog);
            break;
        case LVN_ITEMCHANGED:
            // The keyboard, or anything else, moved the selection. Other changes
            // (a long fill) are passed over: asking for the selection scans the rows.
            if (SelectionChanged(*reinterpret_cast<const NMLISTVIEW*>(header))) {
                UpdateDeleteButton(dialog);
            }
            break;
        case LVN_DELETEALLITEMS:
            // No notice per row: the rows own nothing, and on closing a long list
            // the notices alone took a second per 10,000 rows.
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
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

// True when the file holds the list. A failure is told to the user, whose
// edits would otherwise vanish unseen at the next start.
bool SaveOrSay(HWND dialog) {
    const bool saved = SaveAddressList();
    // A save takes in what other programs added to the file, even one that then
    // fails: show it.
    FillRows(dialog);
    if (saved) return true;
    char message[kTextSize];
    AdaptText(kSaveFailedMessage, message, sizeof message);
    MessageBoxA(dialog, message, kCaption, MB_OK | MB_ICONWARNING);
    return false;
}

INT_PTR OnCommand(HWND dialog, int id) {
    switch (id) {
        case IDOK:
            // Through the message, so that whoever watches it sees this save too.
            // A failed save leaves the window open, to try again or cancel.
            if (SendMessageA(dialog, WM_SAVELIST, 0, 0)) EndDialog(dialog, 1);
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
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, SaveOrSay(dialog) ? 1 : 0);
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
