// Saves that fail on the Windows file layer: a read-only list file, a folder
// that refuses new files, a list file held open without sharing, writes that
// fail part-way. Each time the old file keeps its bytes, no temporary file is
// left, the edits stay in force for the check, and the next save once the fault
// is gone writes them.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/file_io.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"

namespace {

int32_t CheckTo(const char* value) {
    const HeaderField to = {"To", value, 0, nullptr};
    const MailRecord mail = {const_cast<HeaderField*>(&to)};
    double result = 0;
    return CheckMail(0, &mail, &result);
}

// Gives everyone the access rights in `rights` to the folder, and no more. Wine
// keeps this as the folder's Unix permissions.
bool SetFolderAccess(const std::string& folder, DWORD rights) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        return false;
    }
    alignas(DWORD) char aclBytes[256];
    auto* acl = reinterpret_cast<ACL*>(aclBytes);
    SECURITY_DESCRIPTOR sd;
    const bool done = InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
                      AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone) &&
                      InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                      SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
                      SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, &sd);
    FreeSid(everyone);
    return done;
}

// Whether a file can be made in the folder now.
bool CanCreateIn(const std::string& folder) {
    const std::string probe = folder + "\\probe.tmp";
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    DeleteFileA(probe.c_str());
    return true;
}

class SaveFaultTest : public ListTest {
  public:
    TempFolder& folder() { return folder_; }
    HANDLE holder = INVALID_HANDLE_VALUE;
    static int g_faults;

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

// Runs last (gtest keeps the order of definition within a file).
TEST(SaveFaults, Count) {
    std::printf("save faults: %d injected, each left the old file and the edits whole\n",
                SaveFaultTest::g_faults);
}

}  // namespace
