#include "tools/host/mail_inputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/temp_folder.h"

namespace {

// The path below root, with / between names whatever the platform's separator.
std::string Below(const std::string& root, const std::string& path) {
    EXPECT_EQ(path.compare(0, root.size(), root), 0) << path;
    std::string rest = path.substr(std::min(root.size(), path.size()));
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return rest;
}

class InputsTest : public ::testing::Test {
  protected:
    void Make(const std::string& relative, const std::string& bytes = "To: x\n") {
        const auto path = folder_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void MakeFolder(const std::string& relative) {
        std::filesystem::create_directories(folder_.path() / relative);
    }
    std::string Root() const { return folder_.path().string(); }

    TempFolder folder_;
};

TEST_F(InputsTest, WalksFoldersInNameOrderSkippingHiddenAndMaildirTmp) {
    Make("b.eml");
    Make("a.eml");
    Make("list/02");
    Make("list/10");
    Make("maildir/cur/1!2,S");
    Make("maildir/new/2");
    Make("maildir/tmp/3");
    Make(".git/config");
    Make("mail/tmp/kept");  // tmp is only skipped beside cur and new
    MakeFolder("empty");

    std::vector<InputFile> files;
    std::vector<InputError> errors;
    CollectInputs(Root(), files, errors);
    std::vector<std::string> found;
    for (const InputFile& file : files) {
        found.push_back(Below(Root(), file.path));
        EXPECT_FALSE(file.given) << file.path;
    }
    EXPECT_EQ(found,
              (std::vector<std::string>{"/a.eml", "/b.eml", "/list/02", "/list/10",
                                        "/mail/tmp/kept", "/maildir/cur/1!2,S", "/maildir/new/2"}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(InputsTest, GivenFilesAndMissingPaths) {
    Make("one.eml");
    std::vector<InputFile> files;
    std::vector<InputError> errors;
    const std::string missing = folder_.File("nothing-here");
    CollectInputs(folder_.File("one.eml"), files, errors);
    CollectInputs(missing, files, errors);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, folder_.File("one.eml"));
    EXPECT_TRUE(files[0].given);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].path, missing);
    EXPECT_EQ(errors[0].reason, "no such file or folder");
}

TEST_F(InputsTest, ReadsExactBytesOrSaysWhyNot) {
    const std::string bytes("To: a\r\n\r\n\0\x1A\xFF end", 15);
    Make("mail.eml", bytes);
    std::string read = "stale";
    EXPECT_EQ(ReadMailFile(folder_.File("mail.eml"), read), "");
    EXPECT_EQ(read, bytes);

    Make("empty.eml", "");
    EXPECT_EQ(ReadMailFile(folder_.File("empty.eml"), read), "");
    EXPECT_EQ(read, "");

    const std::string reason = ReadMailFile(folder_.File("missing.eml"), read);
    EXPECT_EQ(reason.rfind("cannot open: ", 0), 0u) << reason;
}

TEST(JoinPath, KeepsTheSeparatorThePathUses) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"examples/", "examples/a.eml"},
        {"examples\\", "examples\\a.eml"},
        {"mail/examples", "mail/examples/a.eml"},
        {"C:\\mail\\examples", "C:\\mail\\examples\\a.eml"},
        {"", "a.eml"},
    };
    for (const auto& c : cases) EXPECT_EQ(JoinPath(c.path, "a.eml"), c.expected);
}

}  // namespace
