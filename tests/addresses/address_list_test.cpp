#include "addresses/address_list.h"
#include "addresses/list_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/addresses/list_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(ListTest, AddPutsNewEntriesAtTheFront) {
    ASSERT_TRUE(AddAddress("a"));
    ASSERT_TRUE(AddAddress("b"));
    EXPECT_EQ(Texts(), (Strings{"b", "a"}));
}

TEST_F(ListTest, FindIgnoresOnlyAsciiCase) {
    Fill({"Bob@Example.COM", "\xc4rger@example.com", "x"});
    ASSERT_NE(FindAddress("bob@example.com"), nullptr);
    EXPECT_STREQ(FindAddress("BOB@EXAMPLE.com")->text, "Bob@Example.COM");
    EXPECT_EQ(FindAddress("\xe4rger@example.com"), nullptr) << "0xC4 and 0xE4 are not ASCII";
    EXPECT_EQ(FindAddress("bob@example.co"), nullptr) << "whole texts only";
    EXPECT_EQ(FindAddress("bob@example.comm"), nullptr);
    EXPECT_EQ(FindAddress(""), nullptr);
    EXPECT_EQ(FindAddress(nullptr), nullptr);
}

TEST_F(ListTest, FindReturnsTheFirstOfDuplicates) {
    Fill({"A", "a"});
    EXPECT_EQ(FindAddress("a"), g_addressList.head);
}

TEST_F(ListTest, RemoveKeepsTheLinksWhole) {
    Fill({"a", "b", "c", "d"});
    RemoveAddress(FindAddress("b"));
    EXPECT_EQ(Texts(), (Strings{"a", "c", "d"}));
    RemoveAddress(FindAddress("a"));
    EXPECT_EQ(Texts(), (Strings{"c", "d"}));
    RemoveAddress(FindAddress("d"));
    EXPECT_EQ(Texts(), (Strings{"c"}));
    RemoveAddress(FindAddress("c"));
    EXPECT_EQ(g_addressList.head, nullptr);
    RemoveAddress(nullptr);
}

// The settings page skips refilling its rows while the count stands still.
TEST_F(ListTest, EveryChangeMovesTheChangeCountAndNothingElseDoes) {
    folder_.Write("quorvel.txt", "a\r\n");
    uint32_t last = ListChangeCount();
    const auto changed = [&last] {
        const uint32_t now = ListChangeCount();
        const bool moved = now != last && now != 0;
        last = now;
        return moved;
    };
    LoadAddressList();
    EXPECT_TRUE(changed()) << "load";
    EXPECT_TRUE(AddAddress("b"));
    EXPECT_TRUE(changed()) << "add";
    FindAddress("b");
    SaveAddressList();
    LoadAddressList();  // the list holds entries: nothing read
    EXPECT_FALSE(changed()) << "find, save, a load that reads nothing";
    RemoveAddress(FindAddress("b"));
    EXPECT_TRUE(changed()) << "remove";
    ReleasePlugin();
    EXPECT_TRUE(changed()) << "release";
}

TEST_F(ListTest, ReleaseEmptiesTheListAndNothingReloadsIt) {
    folder_.Write("quorvel.txt", "a\r\n");
    LoadAddressList();
    ReleasePlugin();
    EXPECT_EQ(g_addressList.head, nullptr);
    ReleasePlugin();
    EXPECT_EQ(g_addressList.head, nullptr);
}

TEST_F(ListTest, LoadReversesTheFileAndSaveWritesListOrder) {
    folder_.Write("quorvel.txt", "a\r\n\r\nb\nc\r\n");
    LoadAddressList();
    EXPECT_EQ(Texts(), (Strings{"c", "b", "a"}));
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt"), "c\r\nb\r\na\r\n");
    EXPECT_EQ(folder_.Listing(), "quorvel.txt") << "no temporary file stays behind";
}

TEST_F(ListTest, LoadDoesNothingWhenTheListHoldsEntries) {
    folder_.Write("quorvel.txt", "from-file\r\n");
    Fill({"kept"});
    LoadAddressList();
    EXPECT_EQ(Texts(), (Strings{"kept"}));
}

TEST_F(ListTest, LoadTakesAHandEditedLastLine) {
    folder_.Write("quorvel.txt", "a\r\nb");
    LoadAddressList();
    EXPECT_EQ(Texts(), (Strings{"b", "a"}));
}

TEST_F(ListTest, MissingFileOrPathLeavesTheListEmpty) {
    LoadAddressList();
    EXPECT_EQ(g_addressList.head, nullptr);

    PointAt(folder_.File(""));  // a folder, not a file
    LoadAddressList();
    EXPECT_EQ(g_addressList.head, nullptr);

    g_modulePath[0] = '\0';
    LoadAddressList();
    EXPECT_EQ(g_addressList.head, nullptr);
}

TEST_F(ListTest, SaveReplacesTheWholeFile) {
    folder_.Write("quorvel.txt", "old-1\r\nold-2\r\nold-3-which-is-long\r\n");
    LoadAddressList();
    while (g_addressList.head) RemoveAddress(g_addressList.head);
    Fill({"new"});
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt"), "new\r\n");

    ReleasePlugin();
    EXPECT_TRUE(SaveAddressList()) << "a released list takes the file's entries in again";
    EXPECT_EQ(folder_.Read("quorvel.txt"), "new\r\n");
    LoadAddressList();
    RemoveAddress(g_addressList.head);
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt"), "") << "an empty list saves an empty file";
}

TEST_F(ListTest, FailedSaveKeepsTheOldFileAndTheEdits) {
    Fill({"edit"});

    g_modulePath[0] = '\0';
    EXPECT_FALSE(SaveAddressList()) << "no path: nothing written";

    PointAt((folder_.path() / "missing-folder" / "quorvel.txt").string());
    EXPECT_FALSE(SaveAddressList());

    // A folder in the file's place: the temporary file can't replace it.
    std::filesystem::create_directory(folder_.path() / "quorvel.txt");
    PointAt(folder_.File("quorvel.txt"));
    EXPECT_FALSE(SaveAddressList());
    EXPECT_EQ(folder_.Listing(), "quorvel.txt") << "the temporary file must be removed";
    EXPECT_EQ(Texts(), (Strings{"edit"}));
}

// Another program wrote the file since the load: its entries join the list and
// the file; what this process removed stays removed, in any case of letters.
TEST_F(ListTest, SaveKeepsWhatAnotherProgramWrote) {
    folder_.Write("quorvel.txt", "mine@x.org\r\nold@x.org\r\n");
    LoadAddressList();
    RemoveAddress(FindAddress("old@x.org"));
    ASSERT_TRUE(AddAddress("added@x.org"));
    folder_.Write("quorvel.txt", "MINE@x.org\r\nOld@X.org\r\nother@x.org\r\nmore@x.org\n");
    const uint32_t before = ListChangeCount();
    ASSERT_TRUE(SaveAddressList());
    EXPECT_NE(ListChangeCount(), before) << "the page must refill with the new entries";
    EXPECT_EQ(Texts(), (Strings{"more@x.org", "other@x.org", "added@x.org", "mine@x.org"}));
    EXPECT_EQ(folder_.Read("quorvel.txt"),
              "more@x.org\r\nother@x.org\r\nadded@x.org\r\nmine@x.org\r\n");

    // What this save wrote is known now: the other program's removal of one of
    // its entries is undone rather than anything lost, and nothing else moves.
    folder_.Write("quorvel.txt", "mine@x.org\r\n");
    RemoveAddress(FindAddress("other@x.org"));
    const uint32_t after = ListChangeCount();
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(ListChangeCount(), after);
    EXPECT_EQ(folder_.Read("quorvel.txt"), "more@x.org\r\nadded@x.org\r\nmine@x.org\r\n");

    // A file removed meanwhile: the list is written as it stands.
    std::filesystem::remove(folder_.path() / "quorvel.txt");
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt"), "more@x.org\r\nadded@x.org\r\nmine@x.org\r\n");
}

// Bytes the entries do not give back go to a backup at the first save that
// drops them; an older backup is never written over.
TEST_F(ListTest, SaveKeepsWhatTheLoadCouldNotTakeInABackup) {
    const std::string lost = std::string("a\r\nb\0tail\r\n\x1a", 12) + "after";
    folder_.Write("quorvel.bak", "an older backup");
    folder_.Write("quorvel.txt", lost);
    LoadAddressList();
    // A save the file refuses makes no backup: retries would pile them up.
    std::filesystem::permissions(folder_.path() / "quorvel.txt",
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(SaveAddressList());
    EXPECT_EQ(folder_.Listing(), "quorvel.bak quorvel.txt");
    std::filesystem::permissions(folder_.path() / "quorvel.txt",
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Read("quorvel.txt"), "b\r\na\r\n");
    EXPECT_EQ(folder_.Read("quorvel.bak"), "an older backup");
    EXPECT_EQ(folder_.Read("quorvel.1.bak"), lost);
    ASSERT_TRUE(SaveAddressList());
    EXPECT_EQ(folder_.Listing(), "quorvel.1.bak quorvel.bak quorvel.txt")
        << "a file that gives back its entries needs no backup";
}

// The settings page copies its rows through the visit: every text, head first,
// and no further than the visitor asks.
TEST_F(ListTest, VisitHandsOutTheTextsHeadFirstUntilTold) {
    struct Seen {
        Strings texts;
        size_t wanted;
    } seen{{}, 99};
    const auto take = [](void* context, const char* text) {
        auto& s = *static_cast<Seen*>(context);
        s.texts.push_back(text);
        return s.texts.size() < s.wanted;
    };
    EXPECT_TRUE(VisitAddressTexts(take, &seen));
    EXPECT_EQ(seen.texts, Strings{});
    Fill({"c", "B", "a"});
    EXPECT_TRUE(VisitAddressTexts(take, &seen));
    EXPECT_EQ(seen.texts, Texts());
    seen = {{}, 2};
    EXPECT_FALSE(VisitAddressTexts(take, &seen));
    EXPECT_EQ(seen.texts, (Strings{"c", "B"}));
}

}  // namespace
