#include "tools/host/check_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/addresses/list_fixture.h"

namespace {

// RunCheck against the plug-in's own check, its list filled by the test.
class CheckCommandTest : public ListTest {
  protected:
    void Mail(const std::string& relative, const std::string& bytes) {
        const auto path = mails_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Path(const std::string& relative) const { return mails_.File(relative.c_str()); }

    // Output with the mails' folder cut out of every line, and / as separator.
    std::string Run(const std::vector<std::string>& paths, bool explain) {
        const std::string outPath = output_.File("out.txt");
        const std::string errPath = output_.File("err.txt");
        std::FILE* out = std::fopen(outPath.c_str(), "wb");
        std::FILE* err = std::fopen(errPath.c_str(), "wb");
        counts_ = RunCheck(CheckMail, paths, explain, out, err);
        std::fclose(out);
        std::fclose(err);
        errors_ = Clean(output_.Read("err.txt"));
        return Clean(output_.Read("out.txt"));
    }
    std::string Clean(std::string text) const {
        const std::string root = mails_.path().string();
        for (size_t at; (at = text.find(root)) != std::string::npos;)
            text.replace(at, root.size(), "@");
        for (char& c : text) {
            if (c == '\\') c = '/';
        }
        return text;
    }

    TempFolder mails_;
    TempFolder output_;
    CheckCounts counts_;
    std::string errors_;
};

TEST_F(CheckCommandTest, OneLinePerMailAndASummary) {
    Fill({"ann@example.com"});
    Mail("1.eml", "To: Ann <ANN@example.com>\r\n\r\nHi\r\n");
    Mail("2.eml", "To: bob@example.com\nCc: carl@example.com\n\nHi\n");
    Mail("3.mbox",
         "From x Mon Jan  1 10:00:00 2024\nTo: ann@example.com\n\n>From here\n\n"
         "From y Mon Jan  1 10:00:00 2024\nTo: bob@example.com\n\n");
    Mail("notes.txt", "not a mail\n");
    Mail("maildir/new/4", "Received: by mx for <ann@example.com>\nTo: list@example.org\n\n");

    EXPECT_EQ(Run({Path("")}, false),
              "pass  @/1.eml\n"
              "spam  @/2.eml\n"
              "pass  @/3.mbox [1]\n"
              "spam  @/3.mbox [2]\n"
              "pass  @/maildir/new/4\n"
              "5 mails: 2 spam, 3 passed, 0 unreadable (1 other file left out)\n");
    EXPECT_EQ(errors_, "");
    EXPECT_EQ(counts_.mails, 5);
    EXPECT_EQ(counts_.unreadable, 0);
}

TEST_F(CheckCommandTest, ExplainNamesTheHeadersBehindEachVerdict) {
    Fill({"ann@example.com", "example.net"});
    Mail("pass.eml",
         "Subject: hi\nTo: bob@example.org\nReceived: from a by b\n\tfor <ann@example.com>; "
         "Mon\nCc: ann@example.com\n\n");
    Mail("spam.eml",
         "To: bob@example.org\nDelivered-To: ann@example.com\nCC: carl@example.org\n\n");
    Mail("none.eml", "From: ann@example.com\nSubject: no recipients\n\n");
    Mail("long.eml", "To: " + std::string(100, 'x') + "@example.org\n\n");

    EXPECT_EQ(Run({Path("none.eml"), Path("pass.eml"), Path("spam.eml"), Path("long.eml")}, true),
              "pass  @/none.eml\n"
              "        no To, Cc, Envelope-To or Received header\n"
              "pass  @/pass.eml\n"
              "        match     Received: from a by b for <ann@example.com>; Mon\n"
              "spam  @/spam.eml\n"
              "        no match  To: bob@example.org\n"
              "        no match  CC: carl@example.org\n"
              "spam  @/long.eml\n"
              "        no match  To: " +
                  std::string(55, 'x') +
                  "...\n"
                  "4 mails: 2 spam, 2 passed, 0 unreadable\n");
}

TEST_F(CheckCommandTest, UnreadableInputsAreNamedAndTheRunGoesOn) {
    Fill({"ann@example.com"});
    Mail("ok.eml", "To: ann@example.com\n\n");
    EXPECT_EQ(Run({Path("gone.eml"), Path("ok.eml")}, false),
              "pass  @/ok.eml\n1 mail: 0 spam, 1 passed, 1 unreadable\n");
    EXPECT_EQ(errors_, "quorvel-host: @/gone.eml: no such file or folder\n");
    EXPECT_EQ(counts_.unreadable, 1);
}

TEST_F(CheckCommandTest, AGivenFileIsAMailWhateverItHolds) {
    Fill({"ann@example.com"});
    Mail("odd.txt", "\x01\x02 no headers at all");
    EXPECT_EQ(Run({Path("odd.txt")}, false),
              "pass  @/odd.txt\n1 mail: 0 spam, 1 passed, 0 unreadable\n");
}

TEST_F(CheckCommandTest, SaysSoWhenTheListIsEmpty) {
    Mail("a.eml", "To: bob@example.org\n\n");
    EXPECT_EQ(Run({Path("a.eml")}, false),
              "The plug-in's address list is empty, so it passes every mail.\n"
              "pass  @/a.eml\n1 mail: 0 spam, 1 passed, 0 unreadable\n");
}

TEST(OneLine, FitsAValueOnOneLine) {
    EXPECT_EQ(OneLine("a\r\n\tb  c \x7F", 80), "a b c");
    EXPECT_EQ(OneLine("  lead", 80), "lead");
    EXPECT_EQ(OneLine("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(OneLine("abcdefghi", 8), "abcde...");
    EXPECT_EQ(OneLine("J\xF6rg", 80), "J\xF6rg");
}

TEST(IsAddressHeader, KnowsTheFourNamesInAnyAsciiCase) {
    for (const char* name : {"To", "to", "CC", "envelope-to", "RECEIVED"}) {
        EXPECT_TRUE(IsAddressHeader(name)) << name;
    }
    for (const char* name : {"Bcc", "Delivered-To", "X-Original-To", "Resent-To", "T", "Tox", ""}) {
        EXPECT_FALSE(IsAddressHeader(name)) << name;
    }
}

}  // namespace
