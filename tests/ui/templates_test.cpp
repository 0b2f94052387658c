// The dialog templates in quorvel.dll as the host's dialog manager reads them:
// raw bytes at documented offsets, found by type, number and language.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/loaded_plugin.h"
#include "ui/resource.h"

namespace {

constexpr WORD kGermany = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);  // 1031

// Predefined control classes are stored as atoms.
constexpr WORD kButton = 0x80;
constexpr WORD kEdit = 0x81;
constexpr WORD kStatic = 0x82;

struct Item {
    DWORD id;
    WORD atom;              // 0: the class is a name
    const char* className;  // when atom is 0
    const char* text;
    short x, y, cx, cy;
    DWORD style;
};

struct Template {
    bool extended;
    DWORD style;
    DWORD exStyle;
    short cx, cy;
    const char* title;
    std::vector<Item> items;
};

// Reads a template field by field, aligned as the dialog manager aligns it.
class Reader {
  public:
    Reader(const void* data, size_t size)
        : base_(static_cast<const unsigned char*>(data)), size_(size) {}

    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return static_cast<short>(Take<WORD>()); }
    BYTE Byte() { return Take<BYTE>(); }
    // A string, or "#n" for an ordinal (0xFFFF followed by n).
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0; c = Word()) {
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }
    void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
    bool Overrun() const { return overrun_; }

  private:
    template <typename T>
    T Take() {
        T value = 0;
        if (offset_ + sizeof(T) > size_) {
            overrun_ = true;
            return value;
        }
        std::memcpy(&value, base_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    const unsigned char* base_;
    size_t size_;
    size_t offset_ = 0;
    bool overrun_ = false;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kGroupBox = kChild | BS_GROUPBOX;
const DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
const DWORD kListView = kChild | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                        LVS_SHOWSELALWAYS | LVS_SORTASCENDING | LVS_NOCOLUMNHEADER;
const DWORD kModal = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
const DWORD kNoId = 0xFFFFFFFF;

void ExpectTemplate(HMODULE module, WORD number, const Template& expected) {
    SCOPED_TRACE("template " + std::to_string(number));
    HRSRC found = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG),
                                  MAKEINTRESOURCEA(number), kGermany);
    ASSERT_NE(found, nullptr);
    const void* data = LockResource(LoadResource(module, found));
    ASSERT_NE(data, nullptr);
    Reader r(data, SizeofResource(module, found));

    DWORD style = 0, exStyle = 0;
    if (expected.extended) {
        EXPECT_EQ(r.Word(), 1) << "version";
        EXPECT_EQ(r.Word(), 0xFFFF) << "signature";
        EXPECT_EQ(r.Dword(), 0u) << "help id";
        exStyle = r.Dword();
        style = r.Dword();
    } else {
        style = r.Dword();
        exStyle = r.Dword();
    }
    EXPECT_EQ(style, expected.style);
    EXPECT_EQ(exStyle, expected.exStyle);
    const WORD count = r.Word();
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), expected.cx);
    EXPECT_EQ(r.Short(), expected.cy);
    EXPECT_EQ(r.SzOrOrd(), "") << "menu";
    EXPECT_EQ(r.SzOrOrd(), "") << "window class";
    EXPECT_EQ(r.SzOrOrd(), expected.title);
    EXPECT_EQ(r.Word(), 8) << "point size";
    if (expected.extended) {
        EXPECT_EQ(r.Word(), 0) << "weight";
        EXPECT_EQ(r.Byte(), 0) << "italic";
        EXPECT_EQ(r.Byte(), 1) << "character set";
    }
    EXPECT_EQ(r.SzOrOrd(), "MS Sans Serif");

    ASSERT_EQ(count, expected.items.size());
    for (const Item& item : expected.items) {
        SCOPED_TRACE(item.text);
        r.AlignToDword();
        DWORD id = 0;
        if (expected.extended) {
            EXPECT_EQ(r.Dword(), 0u) << "help id";
            EXPECT_EQ(r.Dword(), 0u) << "extended style";
            style = r.Dword();
        } else {
            style = r.Dword();
            EXPECT_EQ(r.Dword(), 0u) << "extended style";
        }
        EXPECT_EQ(r.Short(), item.x);
        EXPECT_EQ(r.Short(), item.y);
        EXPECT_EQ(r.Short(), item.cx);
        EXPECT_EQ(r.Short(), item.cy);
        id = expected.extended ? r.Dword() : static_cast<DWORD>(static_cast<short>(r.Word()));
        EXPECT_EQ(id, item.id);
        EXPECT_EQ(style, item.style);
        const std::string windowClass = r.SzOrOrd();
        if (item.atom) {
            EXPECT_EQ(windowClass, "#" + std::to_string(item.atom));
        } else {
            // Class names are matched without regard to case; the resource
            // compiler stores them in capitals.
            EXPECT_EQ(lstrcmpiA(windowClass.c_str(), item.className), 0) << windowClass;
        }
        EXPECT_EQ(r.SzOrOrd(), item.text);
        const WORD extra = r.Word();
        EXPECT_EQ(extra, 0) << "creation data";
    }
    EXPECT_FALSE(r.Overrun()) << "the template ends early";
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
    return TRUE;
}

TEST(Templates, SettingsDialog) {
    LoadedPlugin plugin;
    ExpectTemplate(plugin.module(), IDD_SETTINGS,
                   {false,
                    kModal,
                    0,
                    261,
                    146,
                    "Quorvel",
                    {
                        {IDOK, kButton, nullptr, "OK", 204, 11, 50, 14,
                         kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
                        {IDCANCEL, kButton, nullptr, "Cancel", 204, 28, 50, 14, kPush},
                        {IDC_ADDRESS_LIST, 0, "SysListView32", "List1", 17, 20, 167, 92, kListView},
                        {IDC_ADD, kButton, nullptr, "&Add", 78, 118, 50, 14, kPush},
                        {IDC_DELETE, kButton, nullptr, "&Delete", 134, 118, 50, 14, kPush},
                        {kNoId, kButton, nullptr, "Allowable To/CC/Bcc Addressees:", 7, 7, 188, 132,
                         kGroupBox},
                    }});
}

TEST(Templates, AddressEntryDialog) {
    LoadedPlugin plugin;
    ExpectTemplate(
        plugin.module(), IDD_ADD_ADDRESS,
        {false,
         kModal,
         0,
         160,
         62,
         "Add addressee",
         {
             {IDC_NEW_ADDRESS, kEdit, nullptr, "", 91, 11, 59, 12,
              kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
             {IDOK, kButton, nullptr, "OK", 44, 40, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
             {IDCANCEL, kButton, nullptr, "Cancel", 100, 40, 50, 14, kPush},
             {kNoId, kStatic, nullptr, "New Addressee:", 9, 12, 81, 8, kLabel},
         }});
}

TEST(Templates, SettingsPage) {
    LoadedPlugin plugin;
    ExpectTemplate(
        plugin.module(), IDD_OPTIONS_PAGE,
        {true,
         WS_CHILD | DS_SETFONT | DS_3DLOOK,
         WS_EX_CONTROLPARENT,
         277,
         217,
         "",
         {
             {IDC_ADDRESS_LIST, 0, "SysListView32", "List1", 9, 15, 204, 130, kListView},
             {IDC_ADD, kButton, nullptr, "&Add", 219, 15, 50, 14, kPush},
             {IDC_DELETE, kButton, nullptr, "&Delete", 219, 34, 50, 14, kPush},
             {kNoId, kButton, nullptr, "Allowed To/Cc/Bcc email addressees:", 0, 0, 277, 155,
              kGroupBox},
             {kNoId, kStatic, nullptr,
              "The Quorvel blocks any mail not addressed To or CC'd to one of your correct "
              "email addresses. Add your correct email addresses to this list.",
              7, 170, 250, 40, kLabel},
             {kNoId, kButton, nullptr, "Quorvel", 0, 157, 277, 60, kGroupBox},
         }});
}

TEST(Templates, StoredOnlyUnderGerman) {
    LoadedPlugin plugin;
    for (WORD number : {IDD_SETTINGS, IDD_ADD_ADDRESS, IDD_OPTIONS_PAGE}) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(plugin.module(), reinterpret_cast<LPCSTR>(RT_DIALOG),
                               MAKEINTRESOURCEA(number), AddLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(languages, std::vector<WORD>({kGermany})) << "template " << number;
    }
}

// The host finds the page's template, and its frames the controls, by number:
// grouping the ids moves none of them.
TEST(Templates, IdsKeepTheirNumbers) {
    const struct {
        long id, number;
    } ids[] = {
        {IDD_SETTINGS, 101},      {IDD_ADD_ADDRESS, 102},      {IDD_OPTIONS_PAGE, 4005},
        {IDC_ADDRESS_LIST, 1000}, {IDC_DELETE, 1002},          {IDC_ADD, 1003},
        {IDC_NEW_ADDRESS, 1005},  {WM_SAVELIST, 0x400 + 1001},
    };
    for (const auto& c : ids) EXPECT_EQ(c.id, c.number) << "id now " << c.id;
}

}  // namespace
