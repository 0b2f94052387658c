#include "addresses/address_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "addresses/index_keys.h"
#include "check/mail_check.h"
#include "tests/check/reference_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/check/check_model.h"
#include "tests/support/mail.h"

namespace {

class IndexTest : public ListTest {
  protected:
    void TearDown() override {
        FailIndexAllocationsAfter(-1);
        ListTest::TearDown();
    }

    // Whether the list's texts are found in probe texts exactly where the plain
    // search finds them, and the check agrees with the reference on them.
    static void ExpectAnswersLikeTheList(const std::vector<std::string>& probes) {
        ListLock lock;
        for (const auto& probe : probes) {
            bool expected = false;
            for (const AddressEntry* e = g_addressList.head; e && !expected; e = e->next) {
                expected = ContainsNoCase(probe.c_str(), e->text) != nullptr;
            }
            if (AddressIndexInStep()) {
                ForEachScanWidth(
                    [&] { ASSERT_EQ(IndexFindsAddress(probe.c_str()), expected) << probe; });
            }
            Mail mail({{"Cc", probe.c_str()}});
            double fast = 0, plain = 0;
            ASSERT_EQ(CheckMail(0, mail.record(), &fast), ReferenceCheckMail(mail.record(), &plain))
                << probe;
        }
    }

    static std::vector<std::string> Probes(TextMaker& maker, const std::vector<std::string>& pool) {
        std::vector<std::string> probes;
        for (const auto& text : pool) {
            probes.push_back("<" + text + ">");
            probes.push_back(maker.Mangle(text));
        }
        return probes;
    }
};

TEST_F(IndexTest, StaysInStepThroughAddRemoveLoadAndRelease) {
    TextMaker maker(7);
    std::vector<std::string> pool = {""};
    for (int i = 0; i < 60; ++i) pool.push_back(maker.Address());
    const std::vector<std::string> probes = Probes(maker, pool);
    for (int step = 0; step < 400; ++step) {
        switch (maker.Below(10)) {
            case 0:
                // Refused only after a release: the list no longer holds the file.
                ASSERT_TRUE(SaveAddressList() || AddressListLoadIncomplete());
                ReleasePlugin();
                LoadAddressList();
                break;
            case 1:
                if (maker.OneIn(4)) ReleasePlugin();
                break;
            case 2:
            case 3:
            case 4: {
                // Remove an entry found by text, as the editor does, or the head.
                ListLock lock;
                AddressEntry* entry = FindAddress(pool[maker.Below(pool.size())].c_str());
                RemoveAddress(entry ? entry : g_addressList.head);
                break;
            }
            default:
                ASSERT_TRUE(AddAddress(pool[maker.Below(pool.size())].c_str()));
                break;
        }
        ListLock lock;
        ASSERT_TRUE(AddressIndexInStep()) << "step " << step;
        ASSERT_NO_FATAL_FAILURE(ExpectAnswersLikeTheList(probes)) << "step " << step;
    }
}

TEST_F(IndexTest, RemovingMostEntriesGivesMemoryBack) {
    TextMaker maker(11);
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(AddAddress(maker.MailAddress().c_str()));
    const size_t full = AddressIndexBytes();
    AddressEntry* lastKept = g_addressList.head;
    for (int i = 1; i < 50; ++i) lastKept = lastKept->next;
    while (lastKept->next) RemoveAddress(lastKept->next);
    EXPECT_LT(AddressIndexBytes(), full / 2);
    ExpectAnswersLikeTheList(Probes(maker, Texts()));
}

TEST_F(IndexTest, FailedAllocationsLeaveTheCheckRight) {
    TextMaker maker(3);
    std::vector<std::string> pool;
    for (int i = 0; i < 300; ++i) pool.push_back(maker.Address());
    const std::vector<std::string> probes = Probes(maker, pool);
    for (int successes = 0; successes < 12; ++successes) {
        ReleasePlugin();
        FailIndexAllocationsAfter(successes);
        for (const auto& text : pool) ASSERT_TRUE(AddAddress(text.c_str()));
        ASSERT_NO_FATAL_FAILURE(ExpectAnswersLikeTheList(probes)) << successes;
        RemoveAddress(g_addressList.head);
        ASSERT_NO_FATAL_FAILURE(ExpectAnswersLikeTheList(probes)) << successes;
        // Memory is back: the next change rebuilds the index.
        FailIndexAllocationsAfter(-1);
        ASSERT_TRUE(AddAddress("late@example.com"));
        ListLock lock;
        EXPECT_TRUE(AddressIndexInStep()) << successes;
        ASSERT_NO_FATAL_FAILURE(ExpectAnswersLikeTheList(probes)) << successes;
    }
}

TEST_F(IndexTest, AnEntryLinkedBehindTheOperationsIsStillChecked) {
    Fill({"me@example.com"});
    char* text = static_cast<char*>(std::malloc(sizeof "you@example.org"));
    ASSERT_NE(text, nullptr);
    std::memcpy(text, "you@example.org", sizeof "you@example.org");
    void* storage = std::malloc(sizeof(AddressEntry));
    ASSERT_NE(storage, nullptr);
    auto* entry = new (storage) AddressEntry{text, g_addressList.head, nullptr};
    g_addressList.head->prev = entry;
    g_addressList.head = entry;
    {
        ListLock lock;
        EXPECT_FALSE(AddressIndexInStep());
    }
    ExpectAnswersLikeTheList({"you@example.org", "me@example.com", "them@example.net"});
    RemoveAddress(FindAddress("me@example.com"));
    ListLock lock;
    EXPECT_TRUE(AddressIndexInStep());
    ExpectAnswersLikeTheList({"you@example.org", "me@example.com"});
}

TEST_F(IndexTest, TenThousandAddressesFitTheMemoryBudget) {
    TextMaker maker(5);
    for (int i = 0; i < 10000; ++i) {
        const std::string text = std::to_string(i) + "." + maker.MailAddress();
        ASSERT_TRUE(AddAddress(text.c_str()));
    }
    EXPECT_LE(AddressIndexBytes(), 300u * 10000 + 65536);
    ListLock lock;
    RebuildAddressIndex();
    EXPECT_LE(AddressIndexBytes(), 300u * 10000 + 65536);
    ExpectAnswersLikeTheList({"x 4711.ann@example.com", "4711.ann@example.co"});
}

// The anchor is the rarest byte of an address, so a rank out of order makes the
// check probe common letters all over the headers.
TEST(LetterRarity, FollowsHowOftenLettersTurnUpInMailText) {
    const char kMostCommonFirst[] = "etaoinsrhldcumfpgwybvkxjqz";
    int previous = kRarity.rank['e'];
    EXPECT_EQ(previous, 8);
    for (const char* letter = kMostCommonFirst; *letter; ++letter) {
        const int rank = kRarity.rank[static_cast<unsigned char>(*letter)];
        EXPECT_TRUE(rank == previous || rank == previous - 1) << *letter << " ranked " << rank;
        previous = rank;
    }
    EXPECT_EQ(previous, 2) << "the rarest letters";
    // '@' rarest of all; control bytes, non-ASCII and odd punctuation rare; digits
    // in between; spaces and the punctuation of address lists most common.
    const std::pair<char, int> kOthers[] = {{'@', 0}, {'\x01', 1}, {'\x80', 1}, {'!', 1},
                                            {'0', 5}, {'9', 5},    {' ', 9},    {'<', 9}};
    for (const auto& [byte, expected] : kOthers) {
        EXPECT_EQ(kRarity.rank[static_cast<unsigned char>(byte)], expected) << int{byte};
    }
}

}  // namespace
