#include "check/mail_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/addresses/list_fixture.h"
#include "tests/support/mail.h"

namespace {

constexpr double kUntouched = -42.5;

class CheckTest : public ListTest {
  protected:
    int32_t Check(const Mail& mail) {
        result_ = kUntouched;
        const int32_t verdict = CheckMail(0xDEADBEEF, mail.record(), &result_);
        if (verdict == kNotSpam) {
            EXPECT_EQ(result_, kUntouched) << "a pass leaves the result";
        }
        return verdict;
    }
    double result_ = kUntouched;
};

TEST_F(CheckTest, EmptyListPassesEverything) {
    EXPECT_EQ(Check({{"To", "stranger@example.org"}}), kNotSpam);
}

TEST_F(CheckTest, SpamSetsTheResultToOne) {
    Fill({"me@example.com"});
    EXPECT_EQ(Check({{"To", "stranger@example.org"}, {"Cc", "other@example.net"}}), kSpam);
    const unsigned char one[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
    EXPECT_EQ(std::memcmp(&result_, one, 8), 0);
}

struct VerdictCase {
    const char* what;
    std::vector<std::pair<const char*, const char*>> headers;
    int32_t expected;
};

TEST_F(CheckTest, VerdictsOverHeaders) {
    Fill({"me@example.com", "bob@work.example", "family.example"});
    const VerdictCase cases[] = {
        {"no address headers", {{"From", "me@example.com"}, {"Subject", "hi"}}, kNotSpam},
        {"no headers at all", {}, kNotSpam},
        {"To with display name", {{"To", "Me <ME@Example.Com>"}}, kNotSpam},
        {"Cc only", {{"To", "x@y.z"}, {"Cc", "a@b.c, me@example.com"}}, kNotSpam},
        {"lower-case names count", {{"to", "x@y.z"}, {"ENVELOPE-TO", "me@example.com"}}, kNotSpam},
        {"Received clause",
         {{"To", "list@lists.example"}, {"Received", "from a by b for <me@example.com>; Mon"}},
         kNotSpam},
        {"domain entry", {{"To", "Aunt <aunt@family.example>"}}, kNotSpam},
        {"part of a longer local part", {{"To", "jimbob@work.example"}}, kNotSpam},
        {"domain continues", {{"To", "bob@work.example.org"}}, kNotSpam},
        {"only other addresses", {{"To", "x@y.z"}, {"Cc", "q@r.s"}}, kSpam},
        {"similar names do not count",
         {{"X-Original-To", "me@example.com"},
          {"Resent-To", "me@example.com"},
          {"Bcc", "me@example.com"},
          {"Delivered-To", "me@example.com"}},
         kNotSpam},
        {"similar names and a stranger",
         {{"Delivered-To", "me@example.com"}, {"To", "x@y.z"}},
         kSpam},
        {"name matched whole", {{"Too", "x@y.z"}, {"T", "x@y.z"}}, kNotSpam},
        {"empty To value", {{"To", ""}}, kSpam},
        {"non-ASCII case is exact", {{"To", "ME@EXAMPLE.COM\xc4"}}, kNotSpam},
    };
    for (const auto& c : cases) {
        Mail mail;
        for (const auto& [name, value] : c.headers) mail.Add(name, value);
        EXPECT_EQ(Check(mail), c.expected) << c.what;
    }
}

TEST_F(CheckTest, NonAsciiLettersMatchOnlyExactly) {
    Fill({"\xe4rger@example.com"});
    EXPECT_EQ(Check({{"To", "\xc4RGER@example.com"}}), kSpam);
    EXPECT_EQ(Check({{"To", "\xe4RGER@example.com"}}), kNotSpam);
}

TEST_F(CheckTest, AnAddressLongerThanTheValueNeverMatches) {
    Fill({"me@example.com"});
    EXPECT_EQ(Check({{"To", "me@example.co"}}), kSpam);
}

TEST_F(CheckTest, NullInputsPassInsteadOfCrashing) {
    Fill({"me@example.com"});
    double result = kUntouched;
    EXPECT_EQ(CheckMail(0, nullptr, &result), kNotSpam);
    Mail stranger({{"To", "x@y.z"}});
    EXPECT_EQ(CheckMail(0, stranger.record(), nullptr), kNotSpam);
    EXPECT_EQ(Check({{nullptr, "x@y.z"}, {"To", nullptr}}), kNotSpam) << "skipped, not counted";
    EXPECT_EQ(Check({{nullptr, "x@y.z"}, {"To", "x@y.z"}}), kSpam);
}

TEST_F(CheckTest, ReleaseThenEveryMailPasses) {
    Fill({"me@example.com"});
    ReleasePlugin();
    EXPECT_EQ(Check({{"To", "x@y.z"}}), kNotSpam);
}

TEST_F(CheckTest, AddressHeadersCountInAnyCaseAndOthersNever) {
    Fill({"me@example.com"});
    EXPECT_EQ(Check({{"TO", "x@y.z"}}), kSpam) << "counted";
    EXPECT_EQ(Check({{"From", "x@y.z"}, {"Subject", "me@example.com"}}), kNotSpam)
        << "nothing counted";
    EXPECT_EQ(Check({{"From", "me@example.com"}, {"cC", "x@y.z"}}), kSpam)
        << "a listed address in another header does not count";
}

TEST(ContainsNoCase, FindsTheFirstOccurrence) {
    const char* text = "aXbxB";
    EXPECT_EQ(ContainsNoCase(text, "xb"), text + 1);
    EXPECT_EQ(ContainsNoCase(text, "aXbxB"), text);
    EXPECT_EQ(ContainsNoCase(text, "aXbxBc"), nullptr);
    EXPECT_EQ(ContainsNoCase(text, "bc"), nullptr);
    EXPECT_EQ(ContainsNoCase("", "a"), nullptr);
    EXPECT_EQ(ContainsNoCase(text, ""), text);
}

TEST(ContainsNoCase, FoldsAsciiLettersOnly) {
    // Pairs that differ by 0x20 but are not ASCII letters never match each other.
    const char* const pairs[][2] = {{"\xc0", "\xe0"}, {"@", "`"}, {"[", "{"},
                                    {"]", "}"},       {"^", "~"}, {"\xde", "\xfe"}};
    for (const auto& pair : pairs) {
        EXPECT_EQ(ContainsNoCase(pair[0], pair[1]), nullptr) << pair[0] << " vs " << pair[1];
        EXPECT_EQ(ContainsNoCase(pair[1], pair[0]), nullptr) << pair[1] << " vs " << pair[0];
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        const char lower[2] = {c, 0}, upper[2] = {static_cast<char>(c - 32), 0};
        EXPECT_NE(ContainsNoCase(lower, upper), nullptr) << c;
    }
}

}  // namespace
