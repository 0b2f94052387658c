// The fast check gives the plain check's verdict on every list and every mail.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "addresses/address_index.h"
#include "check/mail_check.h"
#include "tests/check/reference_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/check/check_model.h"
#include "tests/support/mail.h"

namespace {

class FastCheckTest : public ListTest {
  protected:
    // Both checks on one mail; the verdict, or -2 when they disagree.
    static int32_t BothChecks(const Mail& mail) {
        double fast = -42.5, plain = -42.5;
        const int32_t verdict = CheckMail(0, mail.record(), &fast);
        if (verdict != ReferenceCheckMail(mail.record(), &plain) || fast != plain) return -2;
        return verdict;
    }
    static int32_t CheckValue(const char* value) {
        Mail mail({{"To", value}});
        return BothChecks(mail);
    }
};

TEST_F(FastCheckTest, RandomListsAndMails) {
    static const char* const kNames[] = {"To", "Cc", "Envelope-To", "Received",
                                         "tO", "CC", "From",        "Delivered-To"};
    TextMaker maker(20240611);
    for (int round = 0; round < 150; ++round) {
        ReleasePlugin();
        std::vector<std::string> listed;
        static const size_t kSizes[] = {1, 2, 3, 5, 8, 20, 60, 200};
        for (size_t n = kSizes[maker.Below(8)]; n > 0; --n) {
            listed.push_back(maker.Address());
            ASSERT_TRUE(AddAddress(listed.back().c_str()));
        }
        for (int m = 0; m < 20; ++m) {
            std::vector<std::string> values;
            for (size_t h = maker.Below(6); h > 0; --h) values.push_back(maker.Value(listed));
            Mail mail;
            for (const auto& value : values) mail.Add(kNames[maker.Below(8)], value.c_str());
            ForEachScanWidth(
                [&] { ASSERT_NE(BothChecks(mail), -2) << "round " << round << ", mail " << m; });
        }
    }
}

// An address of every length up to 40, anchored anywhere, at every offset in a
// value that starts anywhere in a 16-byte block: found whole, missed when its
// last byte is wrong or cut off.
TEST_F(FastCheckTest, EveryLengthAndPositionAroundBlocks) {
    alignas(16) char buffer[128];
    for (size_t length = 1; length <= 40; ++length) {
        std::string address;
        for (size_t i = 0; i < length; ++i) address += "qwErtyuiOpa"[i % 11];
        if (length > 2) address[length / 3] = '@';
        ReleasePlugin();
        ASSERT_TRUE(AddAddress(address.c_str()));
        std::string wrongEnd = address;
        wrongEnd.back() = '#';
        for (size_t shift = 0; shift < 16; ++shift) {
            for (size_t offset = 0; offset <= 34; offset += (offset < 20 ? 1 : 7)) {
                const std::string filler(offset, '-');
                const struct {
                    std::string value;
                    int32_t expected;
                } cases[] = {
                    {filler + address + filler, kNotSpam},
                    {filler + address, kNotSpam},
                    {filler + wrongEnd, kSpam},
                    {filler + address.substr(0, length - 1), kSpam},
                };
                for (const auto& c : cases) {
                    std::memcpy(buffer + shift, c.value.c_str(), c.value.size() + 1);
                    ForEachScanWidth([&] {
                        ASSERT_EQ(CheckValue(buffer + shift), c.expected)
                            << "address " << address << " in " << c.value << " at +" << shift;
                    });
                }
            }
        }
    }
}

TEST_F(FastCheckTest, OnlyAsciiLettersFold) {
    const struct {
        const char* listed;
        const char* value;
        int32_t expected;
    } cases[] = {
        {"\xc0", "x\xe0x", kSpam},
        {"\xe0", "x\xc0x", kSpam},
        {"@", "a`b", kSpam},
        {"`", "a@b", kSpam},
        {"[", "{", kSpam},
        {"{x}", "[x]", kSpam},
        {"^~", "~^", kSpam},
        {"\xde", "\xfe", kSpam},
        {"me@[10.0.0.1]", "ME`{10.0.0.1}", kSpam},
        {"me@[10.0.0.1]", "to ME@[10.0.0.1]", kNotSpam},
        {"q", "Q", kNotSpam},
        {"Z@Z", "z@z", kNotSpam},
        {"\xc4rger@x.de", "\xc4RGER@X.DE", kNotSpam},
        {"\xc4rger@x.de", "\xe4rger@x.de", kSpam},
    };
    for (const auto& c : cases) {
        ReleasePlugin();
        ASSERT_TRUE(AddAddress(c.listed));
        ForEachScanWidth([&] { EXPECT_EQ(CheckValue(c.value), c.expected) << c.listed; });
    }
}

TEST_F(FastCheckTest, AnEmptyEntryMatchesEveryValue) {
    Fill({"me@example.com", ""});
    ForEachScanWidth([&] {
        EXPECT_EQ(CheckValue(""), kNotSpam);
        EXPECT_EQ(CheckValue("x@y.z"), kNotSpam);
    });
}

TEST_F(FastCheckTest, ManyDistinctAnchorsAndLongAddresses) {
    // More anchor bytes than the SSE2 scan compares at once, and addresses longer
    // than the hashed bytes around their anchor.
    std::vector<std::string> listed = {"j", "k", "v", "q", "z", "w", "y", "b", "7"};
    listed.push_back(std::string(300, 'r') + "@" + std::string(300, 's'));
    for (const auto& text : listed) ASSERT_TRUE(AddAddress(text.c_str()));
    const std::string longValue = "<" + std::string(300, 'R') + "@" + std::string(300, 'S') + ">";
    ForEachScanWidth([&] {
        EXPECT_EQ(CheckValue("aaa 7"), kNotSpam);
        EXPECT_EQ(CheckValue("aaa B"), kNotSpam);
        EXPECT_EQ(CheckValue("aaa cde"), kSpam);
        EXPECT_EQ(CheckValue(longValue.c_str()), kNotSpam);
        EXPECT_EQ(CheckValue(longValue.substr(1, 600).c_str()), kSpam);
    });
}

// Memory whose last readable byte ends a page, the next page unreadable.
class PageEnd {
  public:
    PageEnd() {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<char*>(
            VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (base_) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
#else
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* block =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = block == MAP_FAILED ? nullptr : static_cast<char*>(block);
        if (base_) mprotect(base_ + page_, page_, PROT_NONE);
#endif
    }
    ~PageEnd() {
#ifdef _WIN32
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
        if (base_) munmap(base_, 2 * page_);
#endif
    }
    PageEnd(const PageEnd&) = delete;
    PageEnd& operator=(const PageEnd&) = delete;

    bool ok() const {
        return base_ != nullptr;
    }
    // The text placed so that its zero byte is the page's last byte.
    const char* Place(const std::string& text) {
        char* start = base_ + page_ - text.size() - 1;
        std::memcpy(start, text.c_str(), text.size() + 1);
        return start;
    }

  private:
    char* base_ = nullptr;
    size_t page_ = 0;
};

TEST_F(FastCheckTest, ValuesEndingAtTheEndOfReadableMemory) {
    PageEnd page;
    ASSERT_TRUE(page.ok());
    Fill({"me@example.com", "k", "zz@", "@q"});
    std::vector<std::string> values = {"",   "@",  "me@example.co",  "me@", "z@",
                                       "zz", "@Q", "ME@EXAMPLE.COM", "K"};
    for (size_t n = 0; n < 40; ++n) values.push_back(std::string(n, '-') + "me@example.co");
    for (size_t n = 0; n < 40; ++n) values.push_back(std::string(n, '-') + "@");
    for (const auto& value : values) {
        const char* placed = page.Place(value);
        ForEachScanWidth([&] { EXPECT_NE(CheckValue(placed), -2) << value; });
    }
}

}  // namespace
