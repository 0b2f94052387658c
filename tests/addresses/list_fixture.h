// Tests of the process-wide list start and end with it empty, its file in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "tests/temp_folder.h"

class ListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ReleasePlugin();
        PointAt(folder_.File("quorvel.txt"));
        LoadAddressList();  // no file yet: an empty list that may be saved
    }
    void TearDown() override {
        ReleasePlugin();
        g_modulePath[0] = '\0';
    }

    static void PointAt(const std::string& path) {
        ASSERT_LT(path.size(), kPathSize);
        std::memcpy(g_modulePath, path.c_str(), path.size() + 1);
    }

    // Adds texts so that the list reads, from the head, in the order given.
    static void Fill(std::vector<std::string> headFirst) {
        for (auto it = headFirst.rbegin(); it != headFirst.rend(); ++it) {
            ASSERT_TRUE(AddAddress(it->c_str()));
        }
    }

    // The list from the head, checking the back links on the way.
    static std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        const AddressEntry* previous = nullptr;
        for (const AddressEntry* e = g_addressList.head; e; previous = e, e = e->next) {
            EXPECT_EQ(e->prev, previous) << "broken back link at " << e->text;
            texts.push_back(e->text);
        }
        return texts;
    }

    TempFolder folder_;
};
