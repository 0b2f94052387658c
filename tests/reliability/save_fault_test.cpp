// Saves that fail on the Windows file layer: a read-only list file, a folder
// that refuses new files, a list file held open without sharing, writes that
// fail part-way. Each time the old file keeps its bytes, no temporary file is
// left, the edits stay in force for the check, and the next save once the fault
// is gone writes them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/file_io.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/reliability/folder_access.h"

namespace {

int32_t CheckTo(const char* value) {
    const HeaderField to = {"To", value, 0, nullptr};
    const MailRecord mail = {const_cast<HeaderField*>(&to)};
    double result = 0;
    return CheckMail(0, &mail, &result);
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
        folder_.Write("quorvel.txt", oldBytes_);
        LoadAddressList();
        // The user's edits, not saved yet.
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
        folder_.Write("quorvel.txt", oldBytes_);
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

TEST_F(SaveFaultTest, FolderRefusesNewFiles) {
    const std::string folder = folder_.path().string();
    ASSERT_TRUE(SetFolderAccess(folder, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    if (CanCreateIn(folder)) {
        SetFolderAccess(folder, GENERIC_ALL);
        GTEST_SKIP() << "this user is not bound by file permissions (root under Wine); "
                        "ctest runs this program through tests/reliability/bound_by_permissions.sh";
    }
    FailThenMend("folder refuses new files", [](SaveFaultTest& t) {
        SetFolderAccess(t.folder().path().string(), GENERIC_ALL);
    });
}

TEST_F(SaveFaultTest, ListFileHeldOpenWithoutSharing) {
    holder = CreateFileA(folder_.File("quorvel.txt").c_str(), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    FailThenMend("list file held open without sharing",
                 [](SaveFaultTest& t) { CloseHandle(t.holder); });
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
