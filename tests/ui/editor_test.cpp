// The settings dialog, the address entry dialog and the settings page of the
// real quorvel.dll, opened the way the host opens them and driven as a user
// would, from inside their message loops.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/window_driver.h"

namespace {

using RowTexts = std::vector<std::string>;

const char kDeleteQuestion[] = "Do you want to delete the email address \"%s\"?";
const char kDuplicateMessage[] = "This email address is already in the list!";
const char kSaveFailed[] =
    "The address list could not be saved. Your changes count until the mail filter is closed.";
const char kSaveFailedInGerman[] = "Die Liste wurde nicht gespeichert.";

std::string Question(const std::string& address) {
    return "Do you want to delete the email address \"" + address + "\"?";
}

class Editor : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        RegisterListView();
        PlaceHostIcon();
    }

    // The plug-in with a list file, told about the host's callback.
    void Load(const char* listBytes) {
        listBytes_ = listBytes;
        plugin = std::make_unique<LoadedPlugin>(listBytes);
        plugin->Service(RS_HOST_CALLBACK, reinterpret_cast<void*>(&RecordingHost::Callback));
    }

    int32_t ShowSettings(HWND parent = nullptr) { return plugin->ShowSettings(parent); }

    // True when the plug-in lets a mail to this address through.
    bool Passes(const char* to) const {
        Mail mail({{"To", to}});
        double result = 0;
        return plugin->Check(mail.record(), &result) == 0;
    }

    std::string ListFile() const { return plugin->folder().Read("quorvel.txt"); }
    bool ListFileUnchanged() const { return ListFile() == listBytes_; }
    void SetListFileReadOnly(bool readOnly) const {
        SetFileAttributesA(plugin->folder().File("quorvel.txt").c_str(),
                           readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
    }

    // The entry dialog, given text by a user, then closed with OK.
    void EnterAddress(const std::string& text) {
        script.Then([text](HWND entry) {
            SetDlgItemTextA(entry, IDC_NEW_ADDRESS, text.c_str());
            Click(entry, IDOK);
        });
    }

    void ExpectOnlyDialogRequests(const std::vector<HWND>& dialogs) {
        ASSERT_EQ(host.requests.size(), dialogs.size());
        for (size_t i = 0; i < dialogs.size(); ++i) {
            const HostRequest& r = host.requests[i];
            EXPECT_EQ(r.size, 20u);
            EXPECT_EQ(r.target, kHostName);
            EXPECT_EQ(r.code, HS_ADAPT_DIALOG) << "request " << i;
            EXPECT_EQ(r.dialog, dialogs[i]) << "request " << i;
        }
    }

    RecordingHost host;
    WindowScript script;
    std::unique_ptr<LoadedPlugin> plugin;

  private:
    std::string listBytes_;
};

TEST_F(Editor, ShowsTheListInAscendingOrderWithNothingSelected) {
    const struct {
        const char* list;
        RowTexts rows;
    } cases[] = {
        {"carol@example.com\r\nAnn@example.com\r\nbob@example.com\r\n",
         {"Ann@example.com", "bob@example.com", "carol@example.com"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        host.requests.clear();
        Load(c.list);
        HWND shown = nullptr;
        script.Then([&](HWND editor) {
            shown = editor;
            EXPECT_EQ(TextOf(editor), "Quorvel");
            EXPECT_EQ(Rows(editor), c.rows);
            EXPECT_EQ(SelectedRow(editor), -1);
            EXPECT_FALSE(Enabled(editor, IDC_DELETE));
            EXPECT_TRUE(Enabled(editor, IDOK));
            EXPECT_TRUE(Enabled(editor, IDC_ADD));

            HWND list = ListOf(editor);
            auto images =
                reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            EXPECT_EQ(ImageList_GetImageCount(images), 1) << "the host's icon";
            int width = 0, height = 0;
            ImageList_GetIconSize(images, &width, &height);
            EXPECT_EQ(width, GetSystemMetrics(SM_CXSMICON));
            EXPECT_EQ(height, GetSystemMetrics(SM_CYSMICON));
            for (int row = 0; row < static_cast<int>(c.rows.size()); ++row) {
                LVITEMA item = {};
                item.mask = LVIF_IMAGE;
                item.iItem = row;
                SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
                EXPECT_EQ(item.iImage, 0) << "row " << row;
            }
            RECT client = {};
            GetClientRect(list, &client);
            EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0),
                      client.right - GetSystemMetrics(SM_CXVSCROLL));
            Click(editor, IDCANCEL);
        });
        EXPECT_EQ(ShowSettings(), 0);
        ExpectOnlyDialogRequests({shown});
        EXPECT_TRUE(ListFileUnchanged());
    }
}

TEST_F(Editor, AddTrimsTheAddressAndSelectsItsRow) {
    // Enough rows to scroll, so that the new last row has to be brought into view.
    std::string list;
    for (int i = 0; i < 40; ++i) list += "m" + std::to_string(100 + i) + "@example.com\r\n";
    Load(list.c_str());
    HWND editorShown = nullptr, entryShown = nullptr;
    script.Then([&](HWND editor) {
        editorShown = editor;
        Click(editor, IDC_ADD);

        HWND listView = ListOf(editor);
        const int row = SelectedRow(editor);
        EXPECT_EQ(row, 40);
        EXPECT_EQ(Rows(editor).back(), "zed@example.com");
        EXPECT_EQ(SendMessageA(listView, LVM_GETSELECTIONMARK, 0, 0), 40);
        const auto top = static_cast<int>(SendMessageA(listView, LVM_GETTOPINDEX, 0, 0));
        const auto perPage = static_cast<int>(SendMessageA(listView, LVM_GETCOUNTPERPAGE, 0, 0));
        EXPECT_TRUE(row >= top && row < top + perPage)
            << "row " << row << " not in view, top " << top << ", " << perPage << " per page";
        EXPECT_EQ(GetFocus(), listView);
        EXPECT_TRUE(Enabled(editor, IDC_DELETE));
        EXPECT_TRUE(Passes("Zed <zed@example.com>")) << "in force before any save";
        EXPECT_TRUE(ListFileUnchanged());
        Click(editor, IDOK);
    });
    script.Then([&](HWND entry) {
        entryShown = entry;
        EXPECT_EQ(TextOf(entry), "Add addressee");
        EXPECT_EQ(ItemText(entry, 0xFFFF), "New Addressee:");
        EXPECT_EQ(GetFocus(), GetDlgItem(entry, IDC_NEW_ADDRESS));
        EXPECT_FALSE(Enabled(entry, IDOK));
        HWND edit = GetDlgItem(entry, IDC_NEW_ADDRESS);
        for (char c : std::string("  zed@example.com. ")) SendMessageA(edit, WM_CHAR, c, 1);
        EXPECT_TRUE(Enabled(entry, IDOK));
        Click(entry, IDOK);
    });
    EXPECT_EQ(ShowSettings(), 1);
    ExpectOnlyDialogRequests({editorShown, entryShown});
    EXPECT_EQ(ListFile().substr(0, 17), "zed@example.com\r\n") << "newest first";
    EXPECT_EQ(ListFile().size(), list.size() + 17);
}

TEST_F(Editor, EntryDialogTakesTheTrimmedTextOrNothing) {
    Load("bob@example.com\r\n");
    const std::string longText = " " + std::string(300, 'a');
    struct Case {
        std::string typed;
        bool okEnabled;
        // How the user leaves the dialog: OK, Cancel, Escape or the close box.
        enum { Ok, Cancel, Escape, CloseBox } leave;
        RowTexts rows;
    };
    const Case cases[] = {
        {"  ann@example.com. ", true, Case::Ok, {"ann@example.com", "bob@example.com"}},
        {"ann lee@example.com", true, Case::Ok, {"ann lee@example.com", "bob@example.com"}},
        {longText, true, Case::Ok, {std::string(258, 'a'), "bob@example.com"}},
        // A line feed or Ctrl-Z would end the entry, or the whole list, in the file.
        {" ann@example.com.\r\nsecond line",
         true,
         Case::Ok,
         {"ann@example.com", "bob@example.com"}},
        {"ann@example.com \x1a"
         "bob@example.com",
         true,
         Case::Ok,
         {"ann@example.com", "bob@example.com"}},
        {" .\t. ", false, Case::Cancel, {"bob@example.com"}},
        {"\nann@example.com", false, Case::Cancel, {"bob@example.com"}},
        {"cid@example.com", true, Case::Cancel, {"bob@example.com"}},
        {"cid@example.com", true, Case::Escape, {"bob@example.com"}},
        {"cid@example.com", true, Case::CloseBox, {"bob@example.com"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        script.Then([&](HWND editor) {
            Click(editor, IDC_ADD);
            EXPECT_EQ(Rows(editor), c.rows);
            Click(editor, IDCANCEL);
        });
        script.Then([&](HWND entry) {
            SetDlgItemTextA(entry, IDC_NEW_ADDRESS, c.typed.c_str());
            EXPECT_EQ(Enabled(entry, IDOK), c.okEnabled);
            HWND edit = GetDlgItem(entry, IDC_NEW_ADDRESS);
            switch (c.leave) {
                case Case::Ok:
                    Click(entry, IDOK);
                    break;
                case Case::Cancel:
                    Click(entry, IDCANCEL);
                    break;
                case Case::Escape:
                    // Posted, so that the dialog's own loop sees the key.
                    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
                    break;
                case Case::CloseBox:
                    PostMessageA(entry, WM_SYSCOMMAND, SC_CLOSE, 0);
                    break;
            }
        });
        EXPECT_EQ(ShowSettings(), 0);
        // Added rows stay in force after Cancel; delete them for the next case.
        if (c.rows.size() == 2) {
            EXPECT_TRUE(Passes(c.rows[0].c_str()));
            script.Then([](HWND editor) {
                ClickRow(editor, 0);
                PressKey(ListOf(editor), VK_DELETE);
                Click(editor, IDCANCEL);
            });
            script.Then([](HWND box) { PostMessageA(box, WM_COMMAND, IDYES, 0); });
            EXPECT_EQ(ShowSettings(), 0);
        }
    }
    EXPECT_EQ(host.TextSources(), std::vector<std::string>(5, kDeleteQuestion))
        << "no text but the delete questions";
    EXPECT_TRUE(ListFileUnchanged());
}

TEST_F(Editor, RefusesADuplicateWithTheHostsText) {
    const struct {
        const char* translation;  // null: the host leaves the text alone
        const char* shown;
    } cases[] = {
        {nullptr, kDuplicateMessage},
        {"Diese Adresse steht schon in der Liste!", "Diese Adresse steht schon in der Liste!"},
    };
    for (const auto& c : cases) {
        Load("Ann@Example.com\r\nbob@example.com\r\n");
        host.requests.clear();
        host.translations.clear();
        if (c.translation) host.translations[kDuplicateMessage] = c.translation;
        MessageBoxView box;
        script.Then([&](HWND editor) {
            ClickRow(editor, 1);
            Click(editor, IDC_ADD);
            EXPECT_EQ(Rows(editor), RowTexts({"Ann@Example.com", "bob@example.com"}));
            EXPECT_EQ(SelectedRow(editor), 1) << "the selection stays";
            EXPECT_TRUE(Enabled(editor, IDC_DELETE));
            Click(editor, IDOK);
        });
        EnterAddress(" ann@EXAMPLE.com");
        script.Then([&](HWND shown) {
            box = ViewMessageBox(shown);
            PostMessageA(shown, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(ShowSettings(), 1);
        EXPECT_EQ(box.caption, "Quorvel");
        EXPECT_EQ(box.text, c.shown);
        EXPECT_EQ(box.buttons, std::vector<int>({IDOK}));
        ASSERT_EQ(host.requests.size(), 3u) << "editor, entry dialog, message";
        const HostRequest& text = host.requests[2];
        EXPECT_EQ(text.code, HS_ADAPT_TEXT);
        EXPECT_EQ(text.size, 20u);
        EXPECT_EQ(text.target, kHostName);
        EXPECT_EQ(text.textSize, 16u);
        EXPECT_EQ(text.source, kDuplicateMessage);
        EXPECT_EQ(text.destinationSize, 1024);
        EXPECT_EQ(ListFile(), "bob@example.com\r\nAnn@Example.com\r\n") << "saved unchanged";
    }
}

TEST_F(Editor, DeleteAsksAndRemovesOnlyOnYes) {
    const char* list = "ann@example.com\r\nbob@example.com\r\ncid@example.com\r\n";
    Load(list);
    std::vector<MessageBoxView> boxes;
    script.Then([&](HWND editor) {
        ClickRow(editor, 1);
        EXPECT_TRUE(Enabled(editor, IDC_DELETE));
        Click(editor, IDC_DELETE);  // answered No
        EXPECT_EQ(Rows(editor).size(), 3u);
        EXPECT_EQ(SelectedRow(editor), 1);
        EXPECT_TRUE(Passes("bob@example.com"));

        PressKey(ListOf(editor), VK_DELETE);  // answered Yes
        EXPECT_EQ(Rows(editor), RowTexts({"ann@example.com", "cid@example.com"}));
        EXPECT_EQ(SelectedRow(editor), -1);
        EXPECT_FALSE(Enabled(editor, IDC_DELETE));
        EXPECT_FALSE(Passes("bob@example.com")) << "gone before any save";
        EXPECT_TRUE(Passes("cid@example.com"));
        EXPECT_TRUE(ListFileUnchanged());

        PressKey(ListOf(editor), VK_DELETE);  // no row selected: no question
        Click(editor, IDOK);
    });
    script.Then([&](HWND box) {
        boxes.push_back(ViewMessageBox(box));
        PostMessageA(box, WM_COMMAND, IDNO, 0);
    });
    script.Then([&](HWND box) {
        boxes.push_back(ViewMessageBox(box));
        PostMessageA(box, WM_COMMAND, IDYES, 0);
    });
    EXPECT_EQ(ShowSettings(), 1);
    ASSERT_EQ(boxes.size(), 2u);
    for (const MessageBoxView& box : boxes) {
        EXPECT_EQ(box.caption, "Quorvel");
        EXPECT_EQ(box.text, Question("bob@example.com"));
        EXPECT_EQ(box.buttons, std::vector<int>({IDYES, IDNO}));
    }
    EXPECT_EQ(host.TextSources(), std::vector<std::string>(2, kDeleteQuestion));
    EXPECT_EQ(ListFile(), "cid@example.com\r\nann@example.com\r\n");
}

// Tabbed to the Delete button and pressed with the space bar: once the row is
// gone the button is disabled, and the keyboard must still reach the dialog.
TEST_F(Editor, KeyboardDeleteOnTheButtonLeavesTheFocusOnTheList) {
    Load("ann@example.com\r\nbob@example.com\r\n");
    script.Then([&](HWND editor) {
        ClickRow(editor, 0);
        HWND button = GetDlgItem(editor, IDC_DELETE);
        SendMessageA(editor, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
        ASSERT_EQ(GetFocus(), button);
        PressKey(button, VK_SPACE);
        EXPECT_EQ(Rows(editor), RowTexts({"bob@example.com"}));
        EXPECT_FALSE(Enabled(editor, IDC_DELETE));
        EXPECT_EQ(GetFocus(), ListOf(editor));
        Click(editor, IDCANCEL);
    });
    script.Then([](HWND box) { PostMessageA(box, WM_COMMAND, IDYES, 0); }, "the delete question");
    EXPECT_EQ(ShowSettings(), 0);
}

TEST_F(Editor, DeleteFollowsTheSelectionHoweverItMoves) {
    Load("ann@example.com\r\nbob@example.com\r\n");
    script.Then([&](HWND editor) {
        HWND list = ListOf(editor);
        EXPECT_FALSE(Enabled(editor, IDC_DELETE));
        SetFocus(list);
        PressKey(list, VK_DOWN);
        EXPECT_NE(SelectedRow(editor), -1) << "the key selected nothing";
        EXPECT_TRUE(Enabled(editor, IDC_DELETE)) << "lags behind the keyboard";
        LVITEMA none = {};
        none.stateMask = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&none));
        EXPECT_FALSE(Enabled(editor, IDC_DELETE));
        Click(editor, IDCANCEL);
    });
    EXPECT_EQ(ShowSettings(), 0);
}

TEST_F(Editor, DeleteQuestionUsesATranslationOnlyWithOneAddressSlot) {
    const std::string builtIn = Question("bob@example.com");
    const struct {
        const char* translation;
        std::string shown;
    } cases[] = {
        {"Die Adresse \"%s\" entfernen?", "Die Adresse \"bob@example.com\" entfernen?"},
        {"%s: 100%% sicher?", "bob@example.com: 100% sicher?"},
        {"%n%s%s%x", builtIn},
        {"%s und %s?", builtIn},
        {"%d Adressen", builtIn},
        {"Ohne Adresse?", builtIn},
        {"", builtIn},
    };
    Load("bob@example.com\r\n");
    std::vector<std::string> shown;
    script.Then([&](HWND editor) {
        ClickRow(editor, 0);
        for (const auto& c : cases) {
            host.translations[kDeleteQuestion] = c.translation;
            Click(editor, IDC_DELETE);
        }
        Click(editor, IDCANCEL);
    });
    for (size_t i = 0; i < std::size(cases); ++i) {
        script.Then([&](HWND box) {
            shown.push_back(ItemText(box, kMessageBoxText));
            PostMessageA(box, WM_COMMAND, IDNO, 0);
        });
    }
    EXPECT_EQ(ShowSettings(), 0);
    ASSERT_EQ(shown.size(), std::size(cases));
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i], cases[i].shown) << "translated as " << cases[i].translation;
    }
    EXPECT_TRUE(Passes("bob@example.com"));
}

TEST_F(Editor, CancelLeavesTheFileButKeepsTheEdits) {
    Load("bob@example.com\r\n");
    script.Then([&](HWND editor) {
        Click(editor, IDC_ADD);
        // The close box, as a user would end it.
        PostMessageA(editor, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EnterAddress("ann@example.com");
    EXPECT_EQ(ShowSettings(), 0);
    EXPECT_TRUE(ListFileUnchanged());
    EXPECT_TRUE(Passes("ann@example.com")) << "in force until the host releases the plug-in";

    // Opened again, the dialog shows the edit, and the next save writes it.
    script.Then([&](HWND editor) {
        EXPECT_EQ(Rows(editor), RowTexts({"ann@example.com", "bob@example.com"}));
        SendMessageA(editor, WM_SAVELIST, 0, 0);
        EXPECT_EQ(ListFile(), "ann@example.com\r\nbob@example.com\r\n") << "saved while open";
        Click(editor, IDCANCEL);
    });
    EXPECT_EQ(ShowSettings(), 0);

    plugin->Release();
    EXPECT_TRUE(Passes("stranger@example.net")) << "released: an empty list passes all";
}

// OK on a read-only list file: the user is told, in the host's words, and the
// dialog stays open to try again or cancel.
TEST_F(Editor, AFailedSaveIsToldAndKeepsTheDialogOpen) {
    Load("bob@example.com\r\n");
    host.translations[kSaveFailed] = kSaveFailedInGerman;
    SetListFileReadOnly(true);
    HWND shown = nullptr;
    MessageBoxView box;
    script.Then([&](HWND editor) {
        shown = editor;
        Click(editor, IDOK);
        EXPECT_TRUE(IsWindowVisible(editor)) << "ended after a failed save";
        Click(editor, IDCANCEL);
    });
    script.Then([&](HWND message) {
        box = ViewMessageBox(message);
        PostMessageA(message, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(ShowSettings(), 0);
    SetListFileReadOnly(false);
    EXPECT_EQ(box.caption, "Quorvel");
    EXPECT_EQ(box.text, kSaveFailedInGerman);
    EXPECT_EQ(box.buttons, std::vector<int>({IDOK}));
    EXPECT_EQ(box.icon, LoadIconA(nullptr, IDI_WARNING));
    EXPECT_EQ(box.owner, shown);
    ASSERT_EQ(host.requests.size(), 2u) << "the dialog, and one message for one OK";
    EXPECT_EQ(host.requests[1].source, kSaveFailed);
    EXPECT_EQ(host.requests[1].destinationSize, 1024);
}

// The host's settings window, with the page in it.
class Page : public Editor {
  protected:
    void SetUp() override {
        frame = CreateWindowExA(WS_EX_CONTROLPARENT, "STATIC", "Settings",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 500, nullptr, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override { DestroyWindow(frame); }

    HWND CreatePage() { return CreateSettingsPage(*plugin, frame); }

    HWND frame = nullptr;
};

TEST_F(Page, IsAChildThatFillsItsRowsWhenShown) {
    Load("cid@example.com\r\nann@example.com\r\n");
    HWND page = CreatePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(GetParent(page), frame);
    const LONG style = GetWindowLongA(page, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_FALSE(style & WS_VISIBLE) << "the host shows it";
    EXPECT_TRUE(GetWindowLongA(page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    ExpectOnlyDialogRequests({page});
    EXPECT_TRUE(Rows(page).empty());

    ShowWindow(page, SW_SHOW);
    EXPECT_EQ(Rows(page), RowTexts({"ann@example.com", "cid@example.com"}));
    EXPECT_FALSE(Enabled(page, IDC_DELETE));
    EXPECT_EQ(GetDlgItem(page, IDOK), nullptr) << "the host has the OK button";
    DestroyWindow(page);
}

TEST_F(Page, SavesWhenTheHostSaysSo) {
    Load("ann@example.com\r\n");
    HWND page = CreatePage();
    ASSERT_NE(page, nullptr);
    ShowWindow(page, SW_SHOW);
    EnterAddress("bob@example.com");
    Click(page, IDC_ADD);
    EXPECT_EQ(Rows(page), RowTexts({"ann@example.com", "bob@example.com"}));
    EXPECT_EQ(GetFocus(), ListOf(page));
    EXPECT_TRUE(ListFileUnchanged());

    // A failed save is said, on either trigger, owned by the page's window; the
    // host hears of it, and the page is not ended.
    SetListFileReadOnly(true);
    std::vector<MessageBoxView> boxes(2);
    for (MessageBoxView& box : boxes) {
        script.Then([&box](HWND message) {
            box = ViewMessageBox(message);
            PostMessageA(message, WM_COMMAND, IDOK, 0);
        });
    }
    EXPECT_EQ(SendMessageA(page, WM_SAVELIST, 0, 0), 0);
    SendMessageA(page, WM_COMMAND, IDOK, 0);
    SetListFileReadOnly(false);
    for (const MessageBoxView& box : boxes)
        EXPECT_TRUE(box.text == kSaveFailed && box.owner == frame);
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_TRUE(ListFileUnchanged());
    EXPECT_EQ(SendMessageA(page, WM_SAVELIST, 0, 0), 1) << "the host is told the list is saved";
    EXPECT_EQ(ListFile(), "bob@example.com\r\nann@example.com\r\n");

    script.Then([](HWND box) { PostMessageA(box, WM_COMMAND, IDYES, 0); });
    ClickRow(page, 0);
    Click(page, IDC_DELETE);
    EXPECT_EQ(ListFile(), "bob@example.com\r\nann@example.com\r\n");
    SendMessageA(page, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ListFile(), "bob@example.com\r\n");
    EXPECT_FALSE(IsWindowVisible(page)) << "ended as a dialog";
    EXPECT_EQ(host.requests.size(), 5u) << "page, entry dialog, two failed saves, question";
    DestroyWindow(page);
}

// The host hid and showed the page while the question was open, and the rows
// were rebuilt with an address added elsewhere: the answer still goes to the
// address asked about.
TEST_F(Page, DeleteRemovesTheRowAskedAboutAfterARebuild) {
    Load("bob@example.com\r\ncid@example.com\r\n");
    HWND page = CreatePage();
    ASSERT_NE(page, nullptr);
    ShowWindow(page, SW_SHOW);
    script.Then([&](HWND box) {
        EXPECT_EQ(ItemText(box, kMessageBoxText), Question("cid@example.com"));
        script.Then([](HWND editor) {
            Click(editor, IDC_ADD);
            Click(editor, IDOK);
        });
        EnterAddress("abe@example.com");
        EXPECT_EQ(ShowSettings(frame), 1);
        ShowWindow(page, SW_HIDE);
        ShowWindow(page, SW_SHOW);
        EXPECT_EQ(Rows(page), RowTexts({"abe@example.com", "bob@example.com", "cid@example.com"}));
        PostMessageA(box, WM_COMMAND, IDYES, 0);
    });
    ClickRow(page, 1);
    Click(page, IDC_DELETE);
    EXPECT_EQ(Rows(page), RowTexts({"abe@example.com", "bob@example.com"}));
    EXPECT_FALSE(Passes("cid@example.com"));
    EXPECT_TRUE(Passes("bob@example.com"));
    DestroyWindow(page);
}

TEST_F(Page, ShownAgainReflectsEditsMadeElsewhere) {
    Load("ann@example.com\r\n");
    HWND page = CreatePage();
    ASSERT_NE(page, nullptr);
    ShowWindow(page, SW_SHOW);
    script.Then([](HWND editor) {
        Click(editor, IDC_ADD);
        Click(editor, IDOK);
    });
    EnterAddress("bob@example.com");
    EXPECT_EQ(ShowSettings(frame), 1);
    EXPECT_EQ(Rows(page), RowTexts({"ann@example.com"})) << "not shown again yet";
    ClickRow(page, 0);
    EXPECT_TRUE(Enabled(page, IDC_DELETE));
    ShowWindow(page, SW_HIDE);
    ShowWindow(page, SW_SHOW);
    EXPECT_EQ(Rows(page), RowTexts({"ann@example.com", "bob@example.com"}));
    EXPECT_EQ(SelectedRow(page), -1);
    EXPECT_FALSE(Enabled(page, IDC_DELETE)) << "nothing left selected to delete";
    ClickRow(page, 1);
    EXPECT_EQ(SelectedRow(page), 1) << "rows still take a selection after a refill";
    DestroyWindow(page);
}

TEST_F(Page, FillsFromALongListAndKeepsItsRowsWhileTheListStandsStill) {
    // The host's thread in a locale other than the user's, whose order differs:
    // Czech puts "ch" after "h".
    const LCID before = GetThreadLocale();
    const std::shared_ptr<void> restore(nullptr, [before](void*) { SetThreadLocale(before); });
    ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT), SORT_DEFAULT)));
    // Mixed case, digits and the punctuation addresses carry, in no order; some
    // long enough to outgrow the room first set aside for their sort keys.
    std::string list;
    std::vector<std::string> addresses;
    for (int i = 0; i < 10000; ++i) {
        const int k = (i * 7919) % 10000;
        addresses.push_back(
            std::string(1, "aBc_x-Z9"[k % 8]) + std::to_string(k) +
            std::string(k % 31 ? 0 : 120 + k % 100, 'q') +
            (k % 3 ? ".Lee@example.com" : "+tag@sub-" + std::to_string(k % 7) + ".org"));
        list += addresses.back() + "\r\n";
    }
    // Entries that differ only in case and punctuation, which a case-blind order
    // puts otherwise, and entries whose punctuation comes after the 255th letter,
    // where Wine's sort keys hold a zero byte before the bytes that tell them apart.
    std::vector<std::string> more = {"MaryAnn@x.com",  "mary-ann@x.com", "maryann@x.com",
                                     "Mary-Ann@x.com", "co-op@x.org",    "Coop@x.org",
                                     "chan@x.org",     "hana@x.org",     "ian@x.org"};
    for (const char* tail :
         {"-a@x", "a@x", "A@x", ".a@x", "-A@x", "-ax-", "--ax", "-a-x", "-'ax"}) {
        more.push_back(std::string(255, 'k') + tail);
    }
    for (const std::string& address : more) {
        addresses.push_back(address);
        list += address + "\r\n";
    }
    Load(list.c_str());
    HWND page = CreatePage();
    ASSERT_NE(page, nullptr);
    ShowWindow(page, SW_SHOW);
    RowTexts rows = Rows(page);
    ASSERT_EQ(rows.size(), addresses.size());
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_LE(lstrcmpA(rows[i - 1].c_str(), rows[i].c_str()), 0) << "row " << i;
    }
    // The order the control itself gives, which its later inserts rely on.
    HWND reference =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    HWND sorted = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT | LVS_SORTASCENDING, 0,
                                  0, 300, 300, reference, reinterpret_cast<HMENU>(IDC_ADDRESS_LIST),
                                  nullptr, nullptr);
    for (const std::string& address : addresses) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char*>(address.c_str());
        SendMessageA(sorted, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(rows, Rows(reference));
    DestroyWindow(reference);
    std::sort(rows.begin(), rows.end());
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(rows, addresses);
    EXPECT_TRUE(IsWindowVisible(ListOf(page)));

    // Shown again unchanged, the rows are the same rows: the selection stays.
    ClickRow(page, 4321);
    ShowWindow(page, SW_HIDE);
    ShowWindow(page, SW_SHOW);
    EXPECT_EQ(SelectedRow(page), 4321);
    EXPECT_TRUE(Enabled(page, IDC_DELETE));

    EnterAddress("mid@example.com");
    Click(page, IDC_ADD);
    rows = Rows(page);
    ASSERT_EQ(rows.size(), addresses.size() + 1);
    const int row = SelectedRow(page);
    ASSERT_GE(row, 0);
    EXPECT_EQ(rows[row], "mid@example.com");
    EXPECT_LE(lstrcmpA(rows[row - 1].c_str(), rows[row].c_str()), 0);
    EXPECT_LE(lstrcmpA(rows[row].c_str(), rows[row + 1].c_str()), 0);
    const auto top = static_cast<int>(SendMessageA(ListOf(page), LVM_GETTOPINDEX, 0, 0));
    EXPECT_TRUE(row >= top && row < top + 30) << "row " << row << ", top " << top;

    // The rows followed the page's own edits, so showing it again keeps them.
    script.Then([](HWND box) { PostMessageA(box, WM_COMMAND, IDYES, 0); });
    ClickRow(page, 17);
    const std::string deleted = Rows(page)[17];
    Click(page, IDC_DELETE);
    EXPECT_FALSE(Enabled(page, IDC_DELETE)) << "the selected row went";
    ClickRow(page, 18);
    ShowWindow(page, SW_HIDE);
    ShowWindow(page, SW_SHOW);
    EXPECT_EQ(SelectedRow(page), 18);
    rows = Rows(page);
    EXPECT_EQ(rows.size(), addresses.size());
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "mid@example.com"), 1);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), deleted), 0);
    EXPECT_FALSE(Passes(deleted.c_str()));
    DestroyWindow(page);
}

TEST_F(Editor, AWindowThatNeverComesFailsWithinSecondsInsteadOfHanging) {
    Load("bob@example.com\r\n");
    EXPECT_NONFATAL_FAILURE(
        {
            // The first step leaves the dialog open, as a step waiting for a
            // question the editor never asks would.
            script.Then([](HWND) {}, "the settings dialog");
            script.Then([](HWND) {}, "the delete question");
            ShowSettings();
        },
        "waited 5 s for the delete question, which never came");
}

}  // namespace
