// Failing saves through the module, as the host triggers them: edits made on
// the settings page, then the page's save message while the list file is
// read-only, its folder refuses new files, another program holds it open without
// sharing, or writes fail part-way. The module is a test build with a switch for
// the last (exported as FailWritesAfter); the shipped one has no such export.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "tests/reliability/folder_access.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/window_driver.h"
#include "tests/temp_folder.h"

namespace {

const char kSaveFailed[] =
    "The address list could not be saved. Your changes count until the mail filter is closed.";

using FailWritesFn = void(__cdecl*)(long long bytes);

std::filesystem::path FaultModule() {
    return BuildFolder() / "faults" / "quorvel.dll";
}

TEST(ModuleSaveFaults, OnlyTheTestBuildCanFailWrites) {
    TempFolder shipped, test;
    LoadedPlugin real(shipped.path(), nullptr);
    LoadedPlugin faulty(test.path(), nullptr, FaultModule());
    EXPECT_EQ(real.Export<FailWritesFn>("FailWritesAfter"), nullptr);
    EXPECT_NE(faulty.Export<FailWritesFn>("FailWritesAfter"), nullptr);
}

class ModuleSaveFaultTest : public ::testing::Test {
  public:
    static int g_faults;
    static void TearDownTestSuite() {
        std::printf("save faults through the module: %d injected\n", g_faults);
    }

  protected:
    void SetUp() override {
        for (int i = 0; i < 1000; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "person%04d@example.com\r\n", i);
            oldBytes_ += line;
        }
        LoadAndEdit();
    }
    // The module loaded beside the old file, and the user's edits, not saved yet.
    void LoadAndEdit() {
        page_.reset();
        plugin_.reset();
        std::filesystem::remove(folder_.path() / "quorvel.dll");
        plugin_ = std::make_unique<LoadedPlugin>(folder_.path(), &oldBytes_, FaultModule());
        failWrites_ = plugin_->Export<FailWritesFn>("FailWritesAfter");
        ASSERT_NE(failWrites_, nullptr);
        page_ = std::make_unique<PageDriver>(*plugin_);
        page_->Add("new@example.com");
        ASSERT_TRUE(page_->Delete("person0001@example.com", true));
        ASSERT_EQ(page_->Rows().size(), 1000u);
    }
    void TearDown() override {
        failWrites_(-1);
        page_.reset();
        plugin_.reset();
    }

    // Holds this page's save between its second look at the file and its write,
    // and meanwhile starts another program on list: its load, then afterLoad.
    // The other program must not finish while the save is held (why says what
    // finishing early would mean); the save then goes through.
    template <typename AfterLoad>
    void AnotherProgramDuringAHeldSave(const std::string& list, AfterLoad afterLoad,
                                       const char* why) {
        using HoldFn = void(__cdecl*)(void* started, void* resume);
        const auto hold = plugin_->Export<HoldFn>("HoldNextWrite");
        ASSERT_NE(hold, nullptr);
        HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread other([&] {
            WaitForSingleObject(started, INFINITE);
            std::memcpy(g_modulePath, list.c_str(), list.size() + 1);
            ReleasePlugin();
            LoadAddressList();
            afterLoad();
            SetEvent(done);
        });
        std::thread user([&] {
            WaitForSingleObject(started, INFINITE);
            EXPECT_EQ(WaitForSingleObject(done, 1000), static_cast<DWORD>(WAIT_TIMEOUT)) << why;
            SetEvent(resume);
        });
        hold(started, resume);
        EXPECT_EQ(page_->Save(), 1);
        user.join();
        other.join();
        for (HANDLE event : {started, resume, done}) CloseHandle(event);
    }

    void SaveFailsThenMend(const char* fault, void (*mend)(ModuleSaveFaultTest&)) {
        SCOPED_TRACE(fault);
        page_->messages.clear();
        EXPECT_EQ(page_->Save(), 0) << "the page reported a failed save as done";
        EXPECT_EQ(page_->messages, std::vector<std::string>({kSaveFailed}))
            << "the user was not told";
        mend(*this);
        EXPECT_TRUE(folder_.Read("quorvel.txt") == oldBytes_) << "the old file changed";
        EXPECT_EQ(folder_.Listing(), "quorvel.dll quorvel.txt") << "a temporary file was left";
        EXPECT_EQ(plugin_->CheckTo("new@example.com"), 0) << "the added address was lost";
        EXPECT_EQ(plugin_->CheckTo("person0001@example.com"), -1) << "the deleted one is back";
        EXPECT_EQ(plugin_->CheckTo("person0999@example.com"), 0);

        EXPECT_EQ(page_->Save(), 1);
        const std::string saved = folder_.Read("quorvel.txt");
        EXPECT_EQ(saved.find("new@example.com\r\n"), 0u) << "the edits were not saved";
        EXPECT_EQ(saved.find("person0001@"), std::string::npos);
        EXPECT_EQ(saved.size(), oldBytes_.size() - 24 + 17);
        // Loaded again: the old file written back would be another program's.
        LoadAndEdit();
        ++g_faults;
    }

  public:
    TempFolder folder_;
    std::string oldBytes_;
    std::unique_ptr<LoadedPlugin> plugin_;
    std::unique_ptr<PageDriver> page_;
    FailWritesFn failWrites_ = nullptr;
    HANDLE holder_ = INVALID_HANDLE_VALUE;
};
int ModuleSaveFaultTest::g_faults = 0;

TEST_F(ModuleSaveFaultTest, ReadOnlyListFile) {
    ASSERT_TRUE(SetFileAttributesA(folder_.File("quorvel.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    SaveFailsThenMend("read-only list file", [](ModuleSaveFaultTest& t) {
        SetFileAttributesA(t.folder_.File("quorvel.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    });
}

// The page saves by writing over a file another program reads, which nothing
// can be moved in place of, after a whole copy of it stands beside it. Where
// the folder refuses new files no such copy can be made, and a crash halfway
// would tear the only list: that save is refused and said, the file untouched.
TEST_F(ModuleSaveFaultTest, SavesInPlaceOnlyWithACopyBeside) {
    const std::string folder = folder_.path().string();
    ASSERT_TRUE(SetFolderAccess(folder, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    const bool bound = !CanCreateIn(folder);
    SetFolderAccess(folder, GENERIC_ALL);
    for (const bool folderRefuses : {false, true}) {
        SCOPED_TRACE(folderRefuses ? "folder refuses new files" : "held open for reading");
        if (folderRefuses && !bound) continue;  // root under Wine; ctest drops its rights
        if (folderRefuses) LoadAndEdit();
        HANDLE reader = INVALID_HANDLE_VALUE;
        if (folderRefuses) {
            ASSERT_TRUE(SetFolderAccess(folder, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
        } else {
            reader = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        }
        page_->messages.clear();
        EXPECT_EQ(page_->Save(), folderRefuses ? 0 : 1) << "the page misreported the save";
        SetFolderAccess(folder, GENERIC_ALL);
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        const std::string saved = folder_.Read("quorvel.txt");
        if (folderRefuses) {
            EXPECT_EQ(page_->messages, std::vector<std::string>({kSaveFailed}));
            EXPECT_TRUE(saved == oldBytes_) << "the file changed";
        } else {
            EXPECT_EQ(saved.find("new@example.com\r\n"), 0u) << "the edits were not saved";
            EXPECT_EQ(saved.size(), oldBytes_.size() - 24 + 17);
        }
        EXPECT_EQ(folder_.Listing(), "quorvel.dll quorvel.txt") << "a temporary file was left";
    }
}

// The page's save copies the texts under the list's lock and writes the disk
// outside it: a check on another thread completes while the write is held up.
TEST_F(ModuleSaveFaultTest, ChecksDoNotWaitForTheDisk) {
    using HoldFn = void(__cdecl*)(void* started, void* resume);
    const auto hold = plugin_->Export<HoldFn>("HoldNextWrite");
    ASSERT_NE(hold, nullptr);
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE checked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread check([&] {
        WaitForSingleObject(started, INFINITE);
        EXPECT_EQ(plugin_->CheckTo("new@example.com"), 0);
        SetEvent(checked);
    });
    std::thread user([&] {
        EXPECT_EQ(WaitForSingleObject(checked, 10000), WAIT_OBJECT_0)
            << "the check waited for the save's disk write";
        SetEvent(started);  // in case the save never wrote
        SetEvent(resume);
    });
    hold(started, resume);
    EXPECT_EQ(page_->Save(), 1);
    user.join();
    check.join();
    EXPECT_EQ(folder_.Read("quorvel.txt").find("new@example.com\r\n"), 0u);
    for (HANDLE event : {started, resume, checked}) CloseHandle(event);
}

// The list file's path as another program may spell it.
struct Spelling {
    const char* what;
    std::string (*make)(const std::string& folder);
};

const Spelling kSpellings[] = {
    {"the module's own", [](const std::string& folder) { return folder + "\\quorvel.txt"; }},
    {"other letter case and a \\.\\ step",
     [](const std::string& folder) {
         std::string path = folder + "\\.\\QUORVEL.TXT";
         for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         return path;
     }},
    {"the short 8.3 names",
     [](const std::string& folder) {
         char shortPath[MAX_PATH] = "";
         const DWORD made = GetShortPathNameA(folder.c_str(), shortPath, sizeof shortPath);
         if (made == 0 || made >= sizeof shortPath || folder == shortPath) return std::string();
         return std::string(shortPath) + "\\quorvel.txt";
     }},
    {"a second drive letter for the folder",
     [](const std::string& folder) {
         if (!DefineDosDeviceA(0, "Q:", folder.c_str())) return std::string();
         if (GetFileAttributesA("Q:\\quorvel.txt") == INVALID_FILE_ATTRIBUTES) {
             DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr);  // mapped, but not to files
             return std::string();
         }
         return std::string("Q:\\quorvel.txt");
     }},
};

// Two programs save one list file (the host, and quorvel-host learn --write,
// which saves through the same code), each reaching it by its own path: the
// second waits until the first has written before it reads the file, so neither
// writes over the other's entries.
TEST_F(ModuleSaveFaultTest, AnotherProgramsSaveWaitsForThisOne) {
    int run = 0;
    for (const Spelling& spelling : kSpellings) {
        SCOPED_TRACE(spelling.what);
        const std::string list = spelling.make(folder_.path().string());
        if (list.empty()) {
            std::printf("two spellings of one list file: %s not here, left out\n", spelling.what);
            continue;
        }
        if (run++ > 0) LoadAndEdit();
        AnotherProgramDuringAHeldSave(
            list,
            [] {
                EXPECT_TRUE(AddAddress("theirs@example.net"));
                EXPECT_TRUE(SaveAddressList());
            },
            "the other program saved in the middle of this save");
        ReleasePlugin();
        g_modulePath[0] = '\0';
        if (list[0] == 'Q') DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr);
        const std::string file = folder_.Read("quorvel.txt");
        EXPECT_NE(file.find("new@example.com\r\n"), std::string::npos)
            << "this save's edit was lost";
        EXPECT_NE(file.find("theirs@example.net\r\n"), std::string::npos)
            << "the other program's entry was lost";
    }
    EXPECT_GE(run, 2) << "no second spelling to try";
}

// Another program held the file when the host loaded the module (a virus
// scan, a backup): the list starts empty of the file. By the time the page
// saves, the file can be read again: its entries join and the save goes ahead.
TEST_F(ModuleSaveFaultTest, AStartThatCouldNotReadTheListStillSavesIt) {
    page_.reset();
    TempFolder folder;
    folder.Write("quorvel.txt", oldBytes_);
    HANDLE locker = CreateFileA(folder.File("quorvel.txt").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locker, INVALID_HANDLE_VALUE);
    LoadedPlugin plugin(folder.path(), nullptr);
    CloseHandle(locker);
    PageDriver page(plugin);
    page.Add("new@example.com");
    EXPECT_EQ(page.Rows().size(), 1u);
    EXPECT_EQ(page.Save(), 1) << "the page refused a list it could read";
    EXPECT_TRUE(page.messages.empty());
    const std::string saved = folder.Read("quorvel.txt");
    EXPECT_EQ(saved.size(), oldBytes_.size() + 17) << "the file's entries were not kept";
    EXPECT_NE(saved.find("new@example.com\r\n"), std::string::npos);
    EXPECT_EQ(plugin.CheckTo("person0500@example.com"), 0) << "the file's entries are not in force";
    EXPECT_EQ(plugin.CheckTo("new@example.com"), 0);
}

TEST_F(ModuleSaveFaultTest, ListFileHeldOpenWithoutSharing) {
    holder_ = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder_, INVALID_HANDLE_VALUE);
    SaveFailsThenMend("list file held open without sharing",
                      [](ModuleSaveFaultTest& t) { CloseHandle(t.holder_); });
}

TEST_F(ModuleSaveFaultTest, WritesFailPartWay) {
    for (long long bytes : {0LL, 1LL, 8192LL, 20000LL}) {
        failWrites_(bytes);
        SaveFailsThenMend(("writes fail after " + std::to_string(bytes) + " bytes").c_str(),
                          [](ModuleSaveFaultTest& t) { t.failWrites_(-1); });
    }
}

}  // namespace

namespace {

// A host starting while another program's save of its list is held up between
// its second look at the file and its write: the load waits for the save, and
// reads what it wrote.
TEST_F(ModuleSaveFaultTest, ALoadWaitsForAnotherProgramsSave) {
    bool sawTheSave = false;
    AnotherProgramDuringAHeldSave(
        folder_.File("quorvel.txt"),
        [&] { sawTheSave = FindAddress("new@example.com") != nullptr; },
        "the load read the file in the middle of the save");
    EXPECT_TRUE(sawTheSave) << "the load did not read what the save wrote";
    ReleasePlugin();
    g_modulePath[0] = '\0';
}

// A list with text after a Ctrl-Z, held by another program that lets it be
// read but not written: each OK fails, and the text is backed up once.
TEST_F(ModuleSaveFaultTest, FailedSavesOfOneFileMakeOneBackup) {
    page_.reset();
    plugin_.reset();
    std::filesystem::remove(folder_.path() / "quorvel.dll");
    const std::string bytes = oldBytes_ +
                              "\x1A"
                              "after@ctrl-z.example\r\n";
    plugin_ = std::make_unique<LoadedPlugin>(folder_.path(), &bytes, FaultModule());
    page_ = std::make_unique<PageDriver>(*plugin_);
    page_->Add("new@example.com");
    const HANDLE reader = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 3; ++attempt) EXPECT_EQ(page_->Save(), 0) << attempt;
    CloseHandle(reader);
    EXPECT_EQ(folder_.Listing(), "quorvel.bak quorvel.dll quorvel.txt");
    EXPECT_TRUE(folder_.Read("quorvel.bak") == bytes);
    EXPECT_EQ(page_->Save(), 1) << "the save failed once the file was free";
    EXPECT_EQ(folder_.Listing(), "quorvel.bak quorvel.dll quorvel.txt");
}

}  // namespace
