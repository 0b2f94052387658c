// Hostile list files and paths at load: no crash, bounded work, and exactly the
// entries the file rules give; what loads also saves and loads back the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/reliability/bad_lists.h"
#include "tests/reliability/literal_models.h"
#include "tests/support/mail.h"

namespace {

using Strings = std::vector<std::string>;

Strings Reversed(Strings texts) {
    return Strings(texts.rbegin(), texts.rend());
}

class BadListTest : public ListTest {
  protected:
    // Loads the bytes from the list file and checks the list against the rules.
    void LoadAndCompare(const std::string& bytes, const char* what) {
        folder_.Write("quorvel.txt", bytes);
        ReleasePlugin();
        LoadAddressList();
        const Strings expected = Reversed(literal::FileEntries(bytes, SystemHolds()));
        const Strings loaded = Texts();
        ASSERT_EQ(loaded.size(), expected.size()) << what;
        EXPECT_TRUE(loaded == expected) << what << ": the entries differ from the file rules'";
    }
};

TEST_F(BadListTest, LoadsTheEntriesTheFileRulesGive) {
    for (const BadList& list : kBadLists) {
        const std::string bytes = list.make();
        const bool lossy = LossyHere(list, bytes);
        LoadAndCompare(bytes, list.what);

        // What was loaded saves as its lines and loads back reversed; what the
        // lines do not give back is in a backup.
        const Strings loaded = Texts();
        ASSERT_TRUE(SaveAddressList()) << list.what;
        ReleasePlugin();
        LoadAddressList();
        EXPECT_TRUE(Texts() == Reversed(loaded)) << list.what << ": changed by save and load";
        EXPECT_EQ(folder_.Listing(), lossy ? "quorvel.bak quorvel.txt" : "quorvel.txt")
            << list.what;
        if (lossy) {
            EXPECT_TRUE(folder_.Read("quorvel.bak") == bytes) << list.what << ": backup differs";
            std::filesystem::remove(folder_.path() / "quorvel.bak");
        }
    }
}

TEST_F(BadListTest, ChecksAfterABadLoadAgreeWithTheModel) {
    const std::string bytes = bad_lists::PieceBoundaries();
    LoadAndCompare(bytes, "piece boundaries");
    const Strings entries = literal::FileEntries(bytes);
    // Each entry, and the entry one byte short or one byte long, as a To value.
    for (const std::string& entry : entries) {
        for (const std::string& value :
             {entry, entry.substr(0, entry.size() - 1), entry + "z", "z" + entry.substr(1)}) {
            const Mail mail({{"To", value.c_str()}});
            double result = 0;
            EXPECT_EQ(CheckMail(0, mail.record(), &result),
                      literal::Verdict(entries, {{true, true, "To", value}}))
                << "To value of " << value.size() << " bytes starting " << value.substr(0, 3);
        }
    }
}

TEST_F(BadListTest, AFolderInTheFilesPlaceLoadsNothing) {
    std::filesystem::create_directory(folder_.path() / "quorvel.txt");
    LoadAddressList();
    EXPECT_TRUE(Texts().empty());
    ASSERT_TRUE(AddAddress("kept@example.com"));
    EXPECT_FALSE(SaveAddressList());
    EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "quorvel.txt"));
    EXPECT_EQ(folder_.Listing(), "quorvel.txt") << "no temporary file may be left";
    EXPECT_EQ(Texts(), Strings{"kept@example.com"});
}

// A list file whose path is 259 bytes, the most the path buffer holds, in a
// folder of 248: loads, and saves with a temporary name that fits as well.
TEST_F(BadListTest, APathAtTheLengthLimitLoadsAndSaves) {
    std::filesystem::path folder = folder_.path();
    const size_t wanted = kPathSize - 1 - std::string("/quorvel.txt").size();
    while (folder.string().size() < wanted) {
        const size_t left = wanted - folder.string().size();
        size_t length = std::min<size_t>(100, left - 1);
        if (left - 1 - length == 1) --length;  // no room for a separator and a byte after it
        folder /= std::string(length, 'p');
    }
    const std::string path = (folder / "quorvel.txt").string();
    ASSERT_EQ(path.size(), kPathSize - 1) << path;
    std::filesystem::create_directories(folder);
    { std::ofstream(path, std::ios::binary) << "first@example.com\r\nsecond@example.com\r\n"; }
    PointAt(path);
    LoadAddressList();
    EXPECT_EQ(Texts(), (Strings{"second@example.com", "first@example.com"}));

    ASSERT_TRUE(AddAddress("third@example.com"));
    EXPECT_TRUE(SaveAddressList()) << "a list that loads from here must save here";
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "third@example.com\r\nsecond@example.com\r\nfirst@example.com\r\n");
    size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.is_regular_file()) ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file may be left";
}

}  // namespace
