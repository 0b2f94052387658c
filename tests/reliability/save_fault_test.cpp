// Saves that fail on the Windows file layer: a read-only list file, a list file
// held open without sharing, writes that fail part-way. Each time the old file
// keeps its bytes, no temporary file is left, the edits stay in force for the
// check, and the next save once the fault is gone writes them. Then links and
// attributes, a write over the file failing part-way, a load that stopped early.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "addresses/file_io.h"
#include "tests/reliability/file_faults.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/reliability/folder_access.h"
#include "tests/support/mail.h"

namespace {

int32_t CheckTo(const char* value) {
    const Mail mail({{"To", value}});
    double result = 0;
    return CheckMail(0, mail.record(), &result);
}

class SaveFaultTest : public ListTest {
  public:
    TempFolder& folder() { return folder_; }
    HANDLE holder = INVALID_HANDLE_VALUE;
    static int g_faults;

    static void TearDownTestSuite() {
        std::printf("save faults on the file layer: %d injected\n", g_faults);
    }

  protected:
    void SetUp() override {
        ListTest::SetUp();
        // Big enough that a save takes several writes.
        for (int i = 0; i < 3000; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "person%04d@example.com\r\n", i);
            oldBytes_ += line;
        }
        LoadAndEdit();
    }
    // The old file, loaded, and the user's edits, not saved yet.
    void LoadAndEdit() {
        ReleasePlugin();
        folder_.Write("quorvel.txt", oldBytes_);
        LoadAddressList();
        ASSERT_TRUE(AddAddress("new@example.com"));
        ListLock lock;
        RemoveAddress(FindAddress("person0001@example.com"));
    }
    void TearDown() override {
        FailWritesAfter(-1);
        ListTest::TearDown();
    }

    // One failed save, then one after the fault is mended.
    void FailThenMend(const char* fault, void (*mend)(SaveFaultTest&)) {
        SCOPED_TRACE(fault);
        EXPECT_FALSE(SaveAddressList()) << "the save reported success";
        mend(*this);
        EXPECT_TRUE(folder_.Read("quorvel.txt") == oldBytes_) << "the old file changed";
        EXPECT_EQ(folder_.Listing(), "quorvel.txt") << "a temporary file was left";
        EXPECT_EQ(CheckTo("new@example.com"), kNotSpam) << "the added address was lost";
        EXPECT_EQ(CheckTo("person0001@example.com"), kSpam) << "the removed address is back";
        EXPECT_EQ(CheckTo("person2999@example.com"), kNotSpam);

        ASSERT_TRUE(SaveAddressList()) << "saving failed after the fault was mended";
        const std::string saved = folder_.Read("quorvel.txt");
        EXPECT_EQ(saved.find("new@example.com\r\n"), 0u);
        EXPECT_EQ(saved.find("person0001@"), std::string::npos);
        EXPECT_EQ(saved.size(), oldBytes_.size() - 24 + 17);
        // Loaded again: the old file written back would be another program's.
        LoadAndEdit();
        ++g_faults;
    }

    std::string oldBytes_;
};
int SaveFaultTest::g_faults = 0;

TEST_F(SaveFaultTest, ReadOnlyListFile) {
    ASSERT_TRUE(SetFileAttributesA(folder_.File("quorvel.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    FailThenMend("read-only list file", [](SaveFaultTest& t) {
        SetFileAttributesA(t.folder().File("quorvel.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    });
}

// A save keeps what belongs to the file rather than to its bytes.
TEST_F(SaveFaultTest, SaveKeepsAttributesAndLinks) {
    const std::string path = folder_.File("quorvel.txt");
    const std::string link = folder_.File("link.txt");
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), path.c_str(), nullptr));
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("link.txt"), folder_.Read("quorvel.txt")) << "the hard link was cut";
    EXPECT_EQ(folder_.Listing(), "link.txt quorvel.txt");
    DeleteFileA(link.c_str());

    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), kept));
    RemoveAddress(FindAddress("new@example.com"));
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & kept, kept);
    EXPECT_EQ(folder_.Read("quorvel.txt").find("new@"), std::string::npos);
}

// Writing over the file fails part-way (a full disk under a file held open):
// the whole copy made before the write stands for the list, and the torn file
// is not trusted. A start then loads the old list; its next save writes over
// the torn file and removes the copy and the other saves' leftovers.
TEST_F(SaveFaultTest, AWriteInPlaceCutShortLeavesTheOldListFindable) {
    const std::string path = folder_.File("quorvel.txt");
    folder_.Write("qvl12AB.tmp", "left by a save that crashed");
    folder_.Write("qvl12.tmp", "not ours");
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    // The new list and the copy of the old one are whole; the write over the file is cut.
    const size_t newSize = oldBytes_.size() - 24 + 17;
    FailWritesAfter(static_cast<long long>(newSize + oldBytes_.size()) + 100);
    EXPECT_FALSE(SaveAddressList());
    FailWritesAfter(-1);
    CloseHandle(reader);
    EXPECT_FALSE(folder_.Read("quorvel.txt") == oldBytes_) << "the write was not cut short";
    std::string copy;
    for (const auto& item : std::filesystem::directory_iterator(folder_.path())) {
        const std::string name = item.path().filename().string();
        if (name.size() == 11 && name.compare(7, 4, ".was") == 0) copy = folder_.Read(name.c_str());
    }
    EXPECT_TRUE(copy == oldBytes_) << "no whole copy of the old list beside the torn file";

    ReleasePlugin();
    LoadAddressList();
    for (const char* old :
         {"person0000@example.com", "person0001@example.com", "person2999@example.com"}) {
        EXPECT_EQ(CheckTo(old), kNotSpam) << old << " was lost with the torn file";
    }
    EXPECT_EQ(CheckTo("new@example.com"), kSpam) << "the unfinished save's entry counts";
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt").size(), oldBytes_.size());
    EXPECT_EQ(folder_.Listing(), "quorvel.txt qvl12.tmp") << "leftovers stayed";
}

// Reading stopped early: the list holds part of the file. The next save that
// reads it whole takes in what the load missed, keeps the user's removal, and
// the list is whole again.
TEST_F(SaveFaultTest, AShortLoadIsMadeWholeByTheNextSave) {
    ReleasePlugin();
    FailReadsAfter(20000);
    LoadAddressList();
    FailReadsAfter(-1);
    EXPECT_TRUE(AddressListLoadIncomplete());
    EXPECT_EQ(CheckTo("person2999@example.com"), kSpam) << "the read did not stop early";
    ASSERT_TRUE(AddAddress("edit@example.com"));
    {
        ListLock lock;
        RemoveAddress(FindAddress("person0001@example.com"));
    }
    ASSERT_TRUE(SaveAddressList());
    EXPECT_FALSE(AddressListLoadIncomplete());
    const std::string saved = folder_.Read("quorvel.txt");
    EXPECT_EQ(saved.size(), oldBytes_.size() - 24 + 18) << "the file was cut short";
    EXPECT_EQ(saved.find("person0001@"), std::string::npos) << "the removal came back";
    EXPECT_EQ(CheckTo("person2999@example.com"), kNotSpam)
        << "what the load missed is not in force";
    EXPECT_EQ(CheckTo("edit@example.com"), kNotSpam);
}

TEST_F(SaveFaultTest, ListFileHeldOpenWithoutSharing) {
    holder = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    FailThenMend("list file held open without sharing",
                 [](SaveFaultTest& t) { CloseHandle(t.holder); });
}

// A save reads the file again before it writes; what it can't read whole it
// does not write over.
TEST_F(SaveFaultTest, ReadingTheFileAgainFailsPartWay) {
    FailReadsAfter(20000);
    FailThenMend("the save's reading fails after 20000 bytes",
                 [](SaveFaultTest&) { FailReadsAfter(-1); });
}

// An entry that a failed save took in from another program, and that the user
// removes before the next save works, stays removed.
TEST_F(SaveFaultTest, AnEntryTakenInByAFailedSaveCanBeRemoved) {
    folder_.Write("quorvel.txt", oldBytes_ + "theirs@example.net\r\n");
    FailWritesAfter(0);
    EXPECT_FALSE(SaveAddressList());
    FailWritesAfter(-1);
    EXPECT_EQ(CheckTo("theirs@example.net"), kNotSpam)
        << "the other program's entry is not in force";
    RemoveAddress(FindAddress("theirs@example.net"));
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt").find("theirs@"), std::string::npos) << "it came back";
}

TEST_F(SaveFaultTest, WritesFailPartWay) {
    // Nothing written, one byte, up to and across the writer's 8 KB buffer, near the end.
    for (long long bytes : {0LL, 1LL, 8191LL, 8192LL, 8193LL, 40000LL, 65000LL}) {
        FailWritesAfter(bytes);
        FailThenMend(("writes fail after " + std::to_string(bytes) + " bytes").c_str(),
                     [](SaveFaultTest&) { FailWritesAfter(-1); });
    }
}

}  // namespace

// A save stopped at each of its file calls, as a crash or a power cut stops it
// (a write also halfway, a replace also after its first step), then a new start:
// every entry the file held before the save is in force, and in the file after
// the next save. Then another program appending an entry just before each call:
// its entry, the old ones and the saved one all end up in the file.
struct ListKind {
    const char* name;
    bool utf16;
    bool unread;   // text after a Ctrl-Z, which a save keeps in a backup
    bool inPlace;  // held open without delete sharing, so written over in place
};
const ListKind kListKinds[] = {{"plain list", false, false, false},
                               {"UTF-16 list", true, false, false},
                               {"list with unread bytes", false, true, false},
                               {"list written in place", false, false, true}};
const char* const kOldEntries[] = {"ann@example.com", "bob@example.org", "@family.example.net"};

std::string InKind(const ListKind& kind, const std::string& text) {
    if (!kind.utf16) return text;
    std::string units;
    for (const char c : text) units += std::string(1, c) + '\0';
    return units;
}

class CrashTest : public ListTest {
  protected:
    static long g_cases;
    static void TearDownTestSuite() {
        std::printf("save crashes and other writers: %ld cases passed\n", g_cases);
    }
    void TearDown() override {
        StopAtFileCall(0, 0);
        InterleaveAtFileCall(0, nullptr, nullptr);
        if (holder_ != INVALID_HANDLE_VALUE) CloseHandle(holder_);
        ListTest::TearDown();
    }
    // A host starts on the kind's file and adds an entry, not saved yet.
    void Start(const ListKind& kind) {
        if (holder_ != INVALID_HANDLE_VALUE) CloseHandle(holder_);
        holder_ = INVALID_HANDLE_VALUE;
        ReleasePlugin();
        for (const auto& item : std::filesystem::directory_iterator(folder_.path())) {
            std::filesystem::remove(item.path());
        }
        std::string lines;
        for (const char* entry : kOldEntries) lines += std::string(entry) + "\r\n";
        std::string bytes = kind.utf16 ? "\xFF\xFE" + InKind(kind, lines) : lines;
        if (kind.unread)
            bytes +=
                "\x1A"
                "tail@after.ctrl-z\r\n";
        folder_.Write("quorvel.txt", bytes);
        LoadAddressList();
        ASSERT_TRUE(AddAddress("saved@example.com"));
        if (kind.inPlace) {
            holder_ = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        }
    }
    // A new start: the texts given are in force and survive its save.
    void ExpectInForce(const std::vector<std::string>& texts, const ListKind& kind) {
        StopAtFileCall(0, 0);
        for (int round = 0; round < 2; ++round) {
            ReleasePlugin();
            LoadAddressList();
            for (const std::string& text : texts) {
                EXPECT_NE(FindAddress(text.c_str()), nullptr) << text << " lost";
            }
            if (round == 0) {
                EXPECT_TRUE(SaveAddressList()) << "the next save failed";
            }
        }
        if (kind.unread) {
            bool kept = false;
            for (const auto& item : std::filesystem::directory_iterator(folder_.path())) {
                kept |= folder_.Read(item.path().filename().string().c_str()).find("tail@after") !=
                        std::string::npos;
            }
            EXPECT_TRUE(kept) << "the text after the Ctrl-Z is nowhere";
        }
        ++g_cases;
    }
    long CallsOfASave(const ListKind& kind) {
        Start(kind);
        StopAtFileCall(0, 0);
        EXPECT_TRUE(SaveAddressList());
        return FileCallsMade();
    }
    HANDLE holder_ = INVALID_HANDLE_VALUE;
};
long CrashTest::g_cases = 0;

std::vector<std::string> OldEntries() {
    return std::vector<std::string>(std::begin(kOldEntries), std::end(kOldEntries));
}

TEST_F(CrashTest, NoStopOfASaveLosesAnEntry) {
    for (const ListKind& kind : kListKinds) {
        const long calls = CallsOfASave(kind);
        std::vector<std::string> names;
        for (long n = 1; n <= calls; ++n) names.push_back(FileCallName(n));
        std::printf("%s: a save makes %ld file calls\n", kind.name, calls);
        for (long at = 1; at <= calls; ++at) {
            const std::string& name = names[static_cast<size_t>(at - 1)];
            for (const int halfway : {0, 1}) {
                if (halfway && name != "Write" && name != "Replace") continue;
                SCOPED_TRACE(std::string(kind.name) + ": stopped at call " + std::to_string(at) +
                             " (" + name + (halfway ? ", halfway" : "") + ")");
                Start(kind);
                StopAtFileCall(at, halfway);
                SaveAddressList();
                ExpectInForce(OldEntries(), kind);
            }
        }
    }
}

struct Appender {
    std::string path;
    std::string line;
    bool deferred = false;
    static void Append(void* context) {
        auto* self = static_cast<Appender*>(context);
        const HANDLE file = CreateFileA(self->path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        // Shut out while the save holds the file: it tries again once the save is done.
        self->deferred = file == INVALID_HANDLE_VALUE;
        if (self->deferred) return;
        DWORD put = 0;
        WriteFile(file, self->line.data(), static_cast<DWORD>(self->line.size()), &put, nullptr);
        CloseHandle(file);
    }
};

TEST_F(CrashTest, AnotherWriterAtAnyCallOfASaveLosesNothing) {
    for (const ListKind& kind : kListKinds) {
        if (kind.unread) continue;  // an append after a Ctrl-Z is no entry for anyone
        const long calls = CallsOfASave(kind);
        for (long at = 1; at <= calls; ++at) {
            SCOPED_TRACE(std::string(kind.name) + ": written before call " + std::to_string(at));
            Start(kind);
            Appender other{folder_.File("quorvel.txt"), InKind(kind, "theirs@example.net\r\n")};
            StopAtFileCall(0, 0);
            InterleaveAtFileCall(at, Appender::Append, &other);
            EXPECT_TRUE(SaveAddressList());
            InterleaveAtFileCall(0, nullptr, nullptr);
            if (other.deferred) Appender::Append(&other);
            std::vector<std::string> all = OldEntries();
            all.push_back("saved@example.com");
            all.push_back("theirs@example.net");
            ExpectInForce(all, kind);
        }
    }
}
