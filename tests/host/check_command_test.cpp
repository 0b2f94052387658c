#include "tools/host/commands/check_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "addresses/ascii_case.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"
#include "tools/host/commands/entry_index.h"
#include "tools/host/commands/learn_report.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/commands/save_drops.h"
#include "tools/host/mail/mail_addresses.h"
#include "tools/host/mail/mail_inputs.h"
#include "tools/host/mail/mbox_stream.h"

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

    // What is left out is said, but it is no error.
    Mail("empty.eml", "");
    Mail("export.mbox", "junk\nFrom a\nTo: ann@example.com\n\n");
    EXPECT_EQ(Run({Path("empty.eml"), Path("export.mbox")}, false),
              "pass  @/export.mbox [1]\n1 mail: 0 spam, 1 passed, 0 unreadable (1 other file left "
              "out)\n");
    EXPECT_EQ(errors_,
              "quorvel-host: @/empty.eml: empty, no mail\n"
              "quorvel-host: @/export.mbox: 1 line before the first mail left out\n");
    EXPECT_EQ(counts_.unreadable, 0);
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

// learn and lint, on the same mail reading and the plug-in's own list.
class LearnTest : public CheckCommandTest {
  protected:
    Proposal LearnFrom(const std::vector<std::string>& good,
                       const std::vector<std::string>& spam = {}, bool domains = false,
                       ListedCheck listed = nullptr) {
        std::FILE* err = std::fopen(output_.File("err.txt").c_str(), "wb");
        Proposal proposal = Learn(good, spam, domains, err, nullptr, listed);
        std::fclose(err);
        errors_ = Clean(output_.Read("err.txt"));
        return proposal;
    }
    static std::string Entries(const Proposal& proposal) {
        std::string shown;
        for (const ProposedEntry& e : proposal.entries) {
            shown += e.text + " " + std::to_string(e.mails) + "/" + std::to_string(e.only) + "/" +
                     std::to_string(e.spam) + "\n";
        }
        return shown;
    }
    std::string Printed(const Proposal& proposal, bool withSpam, bool listOnly) {
        std::FILE* out = std::fopen(output_.File("out.txt").c_str(), "wb");
        PrintProposal(proposal, withSpam, listOnly, out);
        std::fclose(out);
        return Clean(output_.Read("out.txt"));
    }
};

TEST(AddressesOf, WholeAddressesOfTheFourHeadersOnly) {
    const std::vector<Header> headers = {
        {"To", "\"Lee, Ann\" <Ann.Lee@Example.COM>, bob@example.org."},
        {"cc", "undisclosed-recipients:;"},
        {"Envelope-To", "list+ann@lists.example.org"},
        {"Received",
         "from a (a [192.0.2.1]) by mx.example.com id <x1@mx.example.com>\n\tfor "
         "<ann@example.net>; Mon"},
        {"Received", "by mx for carl@example.net; Tue"},
        {"Received", "by mx.example.com forwarding@example.com"},
        {"Received",
         "by mx for <ann@b\xFC"
         "cher.de>, id 7"},
        {"To", "J\xF6rg <J\xF6rg@Example.DE>, \"john doe\"@example.com, x.@, @example.com"},
        {"From", "dan@example.com"},
        {"Delivered-To", "eve@example.com"}};
    EXPECT_EQ(AddressesOf(headers),
              (std::vector<std::string>{"ann.lee@example.com",
                                        "ann@b\xFC"
                                        "cher.de",
                                        "ann@example.net", "bob@example.org", "carl@example.net",
                                        "j\xF6rg@example.de", "list+ann@lists.example.org"}));
}

TEST(AddressesOf, ReadsALongValueOnceOver) {
    // Clauses that never end, or name no address: a search from each to the end
    // of the value would take hours here.
    std::string value = "from a by b";
    for (int i = 0; i < 100000; ++i) value += " for <x for y";
    value += " for <" + std::string(300, 'z') + "@example.com> for <ann@example.com>; Mon";
    EXPECT_EQ(AddressesOf({{"Received", value}}), (std::vector<std::string>{"ann@example.com"}));
}

// The index finds just the entries the plug-in's own match finds, where they stand.
TEST(EntryIndex, FindsTheEntriesThePluginsMatchFinds) {
    const std::vector<std::string> entries = {"ann@example.com", "@example.org",   "bob@x.example",
                                              "b@x.example",     "ann@example.co", "a+b@x.example"};
    EntryIndex index(entries);
    for (const std::string value :
         {"\"Lee, Ann\" <ANN@Example.COM>", "jo.ann@example.com.au; ann@example.co",
          "x@example.org.uk, y@EXAMPLE.ORG", "bob@x.example", "@@x.example", "ann@example.c", "",
          "ann @example.com", "by mx for <A+B@X.EXAMPLE>; jim.bob@x.examples", "@example.or",
          "ann@example.com@example.org",
          "\xE4"
          "ann@example.com\xE4"}) {
        std::set<std::string> found, expected;
        index.Find(value.data(), value.size(), [&](uint32_t i, size_t begin, size_t end) {
            found.insert(entries[i]);
            EXPECT_TRUE(EqualsNoCase(value.substr(begin, end - begin).c_str(), entries[i].c_str()))
                << value;
        });
        for (const std::string& entry : entries) {
            if (ContainsNoCase(value.c_str(), entry.c_str())) expected.insert(entry);
        }
        EXPECT_EQ(found, expected) << value;
    }
}

TEST_F(LearnTest, FewestWholeAddressesWithWhatEachLetsThrough) {
    Mail("good/1.eml", "To: Ann <ann.lee@example.com>\nCc: bob@example.org\n\n");
    Mail("good/2.eml", "To: bob@example.org, Jo <joann.lee@example.com>\n\n");
    Mail("good/3.eml", "To: list@lists.example.org\nReceived: by mx for <annie@example.org>\n\n");
    Mail("good/4.eml", "Subject: no recipients\n\n");
    Mail("good/5.eml", "To: undisclosed-recipients:;\nReceived: from a by b; Mon\n\n");
    Mail("good/6.mbox",
         "From x\nTo: ann.lee@example.com\n\nFrom y\nEnvelope-To: ANNIE@example.org\n\n");
    Mail("spam/1.eml", "To: winners@example.net\nReceived: by mx for <annie@example.org>\n\n");
    Mail("spam/2.eml", "Subject: nothing\n\n");
    Mail("spam/3.eml", "To: ann.lee@example.com.evil.example\n\n");

    const Proposal proposal = LearnFrom({Path("good")}, {Path("spam")});
    // The greedy choice weighs whole addresses only, and takes bob for
    // good/2.eml; but ann.lee stands inside joann.lee, so the plug-in lets that
    // mail through for it too, and bob, whose mails ann.lee lets through both,
    // is needless.
    EXPECT_EQ(Entries(proposal), "ann.lee@example.com 3/3/1\nannie@example.org 2/2/1\n");
    EXPECT_EQ(proposal.mails, 7u);
    EXPECT_EQ(proposal.withoutHeaders, 1u);
    EXPECT_EQ(proposal.unpassable, 1u);
    EXPECT_EQ(proposal.spamMails, 3u);
    EXPECT_EQ(proposal.spamWithoutHeaders, 1u);
    EXPECT_EQ(proposal.spamPassed, 2u);
    EXPECT_EQ(errors_, "");

    EXPECT_EQ(Printed(proposal, true, false),
              "7 good mails read.\n"
              "Proposed list, 2 entries:\n"
              "  entry                 lets through  only through  spam\n"
              "  ann.lee@example.com*             3             3     1  lets spam through\n"
              "  annie@example.org                2             2     1  lets spam through\n"
              "* marks an entry that lies inside other addresses seen in the mails; the\n"
              "  plug-in lets mail to those through too:\n"
              "* ann.lee@example.com also lets through 2 other addresses seen, such as "
              "ann.lee@example.com.evil.example\n"
              "1 mail without a To, Cc, Envelope-To or Received header: the plug-in passes it "
              "whatever the list.\n"
              "1 mail that no address entry can let through:\n"
              "  @/good/5.eml\n"
              "      To: undisclosed-recipients:; names no address, and no Received line names "
              "one\n"
              "Of 3 spam mails, the proposed list lets 2 through; 1 more passes whatever the list "
              "(no To, Cc, Envelope-To or Received header).\n");
    EXPECT_EQ(Printed(proposal, true, true), "ann.lee@example.com\nannie@example.org\n");
}

TEST_F(LearnTest, BodyLinesAreNeverLearnedFrom) {
    Mail("good/1.eml", "To: ann.lee@example.com\nSubject: hi\nHello.\nTo: carl@example.net\n");
    Mail("good/2.mbox", "\nstray line\nFrom x\nTo: bob@example.org\n\n");
    EXPECT_EQ(Entries(LearnFrom({Path("good")})),
              "ann.lee@example.com 1/1/0\nbob@example.org 1/1/0\n");
    EXPECT_EQ(errors_, "quorvel-host: @/good/2.mbox: 1 line before the first mail left out\n");
}

// Thousands of addresses, each named by two mails: each is learned once, and
// found again, however its table has grown in between.
TEST_F(LearnTest, EveryAddressIsKnownOnceHoweverManyThereAre) {
    std::string mbox;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            mbox += "From x\nTo: " + std::string(round ? "U" : "u") + std::to_string(i) +
                    "@example.com\n\n";
        }
    }
    Mail("many.mbox", mbox);
    const Proposal proposal = LearnFrom({Path("many.mbox")});
    ASSERT_EQ(proposal.entries.size(), 3000u);
    for (const ProposedEntry& entry : proposal.entries) {
        EXPECT_EQ(entry.mails, 2u) << entry.text;
        EXPECT_EQ(entry.only, 2u) << entry.text;
    }
}

// The plug-in lets through every address an entry stands in: at the end of the
// local part, at the start of the domain, or both. Each address is chosen for
// the mails that name it whole, and then those that another entry stands in are
// needless; the addresses that hold an entry are what its mark counts.
TEST_F(LearnTest, AnEntryInsideAnotherMakesItNeedlessAndIsMarkedWhereItHides) {
    Mail("1.eml", "To: ann@example.com\n\n");
    Mail("2.eml", "To: jo.ann@example.com.au\n\n");
    Mail("3.eml", "To: ann@example.community\n\n");
    Mail("4.eml", "To: nn@example.com, ann@example.org\n\n");
    Mail("5.eml", "To: ann@example.co\n\n");
    Mail("6.eml", "To: jimbob@example.net\n\n");
    Mail("7.eml", "To: bob@example.net\n\n");
    Mail("8.eml", "To: Bob@Example.NET.\n\n");
    const Proposal proposal = LearnFrom({Path("")});
    EXPECT_EQ(Entries(proposal),
              "ann@example.co 4/4/0\nbob@example.net 3/3/0\nann@example.org 1/1/0\n");
    EXPECT_EQ(proposal.entries[0].inside, 3u);
    EXPECT_EQ(proposal.entries[0].example, "ann@example.com");
    EXPECT_EQ(proposal.entries[1].example, "jimbob@example.net");
}

TEST_F(LearnTest, TheSpamPassNamesAMailItCouldNotReadAsTheGoodPassDoes) {
    Mail("good.eml", "To: ann@example.com\n\n");
    Mail("spam/huge.eml", "To: x@example.net\nX-Big: " + std::string(kMaxHeaderBlock, 'z'));
    const Proposal proposal = LearnFrom({Path("good.eml")}, {Path("spam")});
    EXPECT_EQ(errors_,
              "quorvel-host: @/spam/huge.eml: header block larger than 64 MiB, not read\n");
    EXPECT_EQ(proposal.unreadable, 1);
    EXPECT_EQ(proposal.spamMails, 0u);
    EXPECT_EQ(Printed(LearnFrom({Path("gone")}), false, false), "No mail was read.\n");
}

TEST_F(LearnTest, DomainsFoldThreeAddressesOrMoreIntoTheirDomainOnly) {
    Mail("1.eml", "To: a@family.example.net\n\n");
    Mail("2.eml", "To: b@family.example.net\n\nFrom: zed@family.example.net\n");
    Mail("3.eml", "To: c@family.example.net\nFrom: Zed <zed@family.example.net>\n\n");
    Mail("4.eml", "To: d@other.example.net\n\n");
    Mail("5.eml", "To: e@other.example.net\n\n");
    Mail("6.eml", "To: f@family.example.net.au\n\n");
    // The domain entry stands in f's address too: f's entry is needless, and the
    // columns count its mail for the domain.
    EXPECT_EQ(Entries(LearnFrom({Path("")}, {}, true)),
              "@family.example.net 4/4/0\nd@other.example.net 1/1/0\ne@other.example.net 1/1/0\n");
    EXPECT_EQ(Entries(LearnFrom({Path("")}, {}, false)).find('@', 0), 1u);
    // Marked for the addresses it lets through beside those it was folded from.
    const Proposal folded = LearnFrom({Path("")}, {}, true);
    EXPECT_EQ(folded.entries[0].inside, 2u);
    EXPECT_EQ(folded.entries[0].example, "f@family.example.net.au");
    EXPECT_EQ(folded.entries[1].inside, 0u);
    EXPECT_NE(Printed(folded, false, false)
                  .find("\n* @family.example.net also lets through 2 other addresses seen, such "
                        "as f@family.example.net.au\n"),
              std::string::npos);
}

TEST_F(LearnTest, AddressesAreTakenWholeOrNotAtAll) {
    Mail("good/1.eml", "To: J\xF6rg <j\xF6rg@example.de>\nFrom: Ann <joann@bank.example>\n\n");
    Mail("good/2.eml",
         "To: ann@b\xFC"
         "cher.de\nMessage-ID: <1.ann@b\xFC"
         "cher.de>\n\n");
    Mail("good/3.eml", "To: \"john doe\"@example.com\nReceived: by mx; Mon\n\n");
    Mail("spam/1.eml", "To: georg@example.de\n\n");
    const Proposal proposal = LearnFrom({Path("good")}, {Path("spam")});
    // Neither "rg@example.de" nor "ann@b" lets georg or joann in.
    EXPECT_EQ(Entries(proposal),
              "ann@b\xFC"
              "cher.de 1/1/0\nj\xF6rg@example.de 1/1/0\n");
    EXPECT_EQ(proposal.entries[0].inside, 0u);  // a message's name is no address
    ASSERT_EQ(proposal.shown.size(), 1u);
    EXPECT_EQ(proposal.shown[0].reason,
              "To: \"john doe\"@example.com holds no whole address an entry could be, only "
              "parts of one, and no Received line names one");
}

TEST_F(LearnTest, WriteAddsOnlyWhatTheFileLacksThroughThePluginsSave) {
    folder_.Write("quorvel.txt", "ANN.LEE@example.com\r\n");
    Mail("1.eml", "To: ann.lee@example.com\n\n");
    Mail("2.eml", "To: bob@example.org\n\n");
    const Proposal proposal = LearnFrom({Path("")});
    const std::string list = folder_.File("quorvel.txt");
    std::FILE* out = std::fopen(output_.File("out.txt").c_str(), "wb");
    EXPECT_TRUE(WriteProposal(proposal, list, out));
    ReleasePlugin();
    EXPECT_TRUE(WriteProposal(proposal, list, out));
    std::fclose(out);
    EXPECT_EQ(folder_.Read("quorvel.txt"), "bob@example.org\r\nANN.LEE@example.com\r\n");
    EXPECT_EQ(Clean(output_.Read("out.txt")),
              "Added 1 entry to " + Clean(list) + ":\n  bob@example.org\n" +
                  "Nothing to add: " + Clean(list) + " already holds every proposed entry.\n");

    // A list the plug-in can't read whole is never saved over.
    ReleasePlugin();
    out = std::fopen(output_.File("out.txt").c_str(), "wb");
    EXPECT_FALSE(WriteProposal(proposal, mails_.path().string(), out));  // a folder
    std::fclose(out);
    EXPECT_NE(output_.Read("out.txt").find("can't be read), so nothing was added.\n"),
              std::string::npos);
}

// Weighed against the list, learn proposes only what it lacks: an entry whose
// mails the list lets through already is needless, as one equal to an entry is.
TEST_F(LearnTest, WriteAddsNothingTheListLetsThroughAndNamesWhatTheSaveDrops) {
    folder_.Write("quorvel.txt",
                  "@Example.com\r\nbob@example.org\r\n\x1A"
                  "kept@example.org\r\n");
    Mail("1.eml", "To: a@example.com\n\n");
    Mail("2.eml", "To: b@example.com\n\n");
    Mail("3.eml", "To: bob@example.org, c@example.net\n\n");
    Mail("4.eml", "To: kept@example.org\n\n");
    ReleasePlugin();
    const std::string list = folder_.File("quorvel.txt");
    ASSERT_TRUE(LoadListFile(list));
    const Proposal proposal = LearnFrom({Path("")}, {}, false, ListLetsThrough);
    EXPECT_EQ(Entries(proposal), "kept@example.org 1/1/0\n");
    EXPECT_EQ(proposal.listedMails, 3u);
    EXPECT_EQ(Printed(proposal, false, false),
              "4 good mails read.\n"
              "Your list lets 3 of them through already.\n"
              "Proposed list, 1 entry beside those of your list:\n"
              "  entry             lets through  only through\n"
              "  kept@example.org             1             1\n");

    // The entry after the Ctrl-Z, which the plug-in never read, is named with the
    // backup that keeps it.
    const std::string before = folder_.Read("quorvel.txt");
    std::FILE* out = std::fopen(output_.File("out.txt").c_str(), "wb");
    EXPECT_TRUE(WriteProposal(proposal, list, out));
    std::fclose(out);
    EXPECT_EQ(folder_.Read("quorvel.txt"),
              "kept@example.org\r\nbob@example.org\r\n@Example.com\r\n");
    EXPECT_EQ(folder_.Read("quorvel.bak"), before);
    EXPECT_EQ(Clean(output_.Read("out.txt")),
              "Added 1 entry to " + Clean(list) + ":\n  kept@example.org\n" +
                  "The save left out what the plug-in does not read of the file; " +
                  Clean(folder_.File("quorvel.bak")) +
                  " keeps it as it was:\n  the entry after the Ctrl-Z in line 3, "
                  "\"kept@example.org\"\n");

    // Once all is listed, nothing is left to propose.
    const Proposal again = LearnFrom({Path("")}, {}, false, ListLetsThrough);
    EXPECT_EQ(Printed(again, false, false),
              "4 good mails read.\nYour list lets 4 of them through already.\n"
              "No entry to propose: your list lets through every one of them that an entry "
              "can.\n");
}

TEST(WhatASaveDrops, NamesWhatTheFileLosesAndNothingElse) {
    const std::string longLine(300, 'x');
    const struct {
        std::string bytes;
        std::string drops;
    } cases[] = {
        {"ann@example.com\r\nbob@example.org", ""},
        {"ann@example.com\r\n\x1A\r\n", "the Ctrl-Z in line 2 and the blank lines after it"},
        {"ann@example.com\x1A", "the Ctrl-Z in line 1"},
        {"a@x.example\r\n\x1A"
         "b@x.example\r\nc@x.example\x1A"
         "d@x.example\r\n",
         "the 3 entries after the Ctrl-Z in line 2: \"b@x.example\", \"c@x.example\", "
         "\"d@x.example\""},
        {std::string("zed\0ie@example.org\r\nann@x.example\r\n\0x\r\n", 39),
         "what follows a zero byte in lines 1 and 3"},
        {"ann@x.example\r\n" + longLine + "\r\n",
         "line 2 as written: longer than 259 characters, saved as the pieces the plug-in reads"},
        // Broken UTF-8 converts on no code page.
        {"\xEF\xBB\xBF"
         "ann@x.example\r\nb\xC3@x.example\r\nc@x.example\r\nd\xFF\r\n",
         "lines 2 and 4, with letters your system's code page has no form for, or broken text"},
        {std::string("\xFF\xFE"
                     "a\0@\0x\0\r\0\n\0\x00\xD8\r\0\n\0b",
                     19),
         "lines 2 and 3, with letters your system's code page has no form for, or broken text"},
    };
    for (const auto& c : cases) {
        std::string said;
        for (const std::string& drop : WhatASaveDrops(c.bytes))
            said += (said.empty() ? "" : "; ") + drop;
        EXPECT_EQ(said, c.drops) << ShowEntry(c.bytes);
    }
}

TEST(ExamineList, NamesEachKindOfUnhealthyEntry) {
    const std::string file = std::string(
                                 "ann@example.com\r\n  \r\n..\r\nab\r\n.com\r\nORG\r\n@\r\n"
                                 "ann@example.com.au\r\nAnn@Example.com\r\nbob@example.org\r\r\n") +
                             "long." + std::string(295, 'x') +
                             "@example.org\r\nco.uk\r\n.CO.UK\r\n2024\r\n+0000\r\n" +
                             "[192.0.2.10]\r\n192.0.2.10\r\ntls\r\n(Postfix)\r\nfor "
                             "<\r\ngmail\r\n.shop\r\n ann@x.example\r\nbob@x.example\t\r\nzed" +
                             std::string(1, '\0') + "ie@example.org\r\n" + std::string(1, '\0') +
                             "x\r\ntab@x.example\x1A\r\nlost@example.org";
    const auto warnings = ExamineList(file.data(), file.size());
    std::string named;
    for (const ListWarning& w : warnings) {
        named += ShowEntry(w.entry) + " " + w.message.substr(0, w.message.find(' ', 9)) + "\n";
    }
    EXPECT_EQ(named,
              "\"long.xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\" line 11 is\n"
              "\"zed\" is cut short\n"
              "\"\" Line 26 has\n"
              "\"\" Line 27 holds\n"
              "\"  \" is only blanks\n"
              "\"..\" is only blanks\n"
              "\"ab\" is shorter\n"
              "\".com\" is a bare\n"
              "\"ORG\" is a word\n"
              "\"@\" is shorter\n"
              "\"Ann@Example.com\" is in the\n"
              "\"bob@example.org\\r\" ends in an\n"
              "\"co.uk\" is a bare\n"
              "\".CO.UK\" is a bare\n"
              "\"2024\" is only digits\n"
              "\"+0000\" is only digits\n"
              "\"[192.0.2.10]\" is the number\n"
              "\"192.0.2.10\" is the number\n"
              "\"tls\" is a word\n"
              "\"(Postfix)\" holds \"(\",\n"
              "\"for <\" holds \"<\",\n"
              "\"gmail\" has neither\n"
              "\".shop\" is a bare\n"
              "\" ann@x.example\" starts with\n"
              "\"bob@x.example\\t\" ends in a\n"
              "\"zed\" has neither\n"
              "\"ann@example.com.au\" contains the\n");
    EXPECT_EQ(Wrapped("\"a\" bb cc " + std::string(12, 'd') + " e", 2, 4, 12),
              "  \"a\" bb cc\n    dddddddddddd\n    e\n");
    const std::string healthy =
        "ann@example.com\nannie@example.org\nlee-family.example.net\nexample.co.uk\n"
        "j\xF6rg@example.de\n2024@example.com\nme@example.org.uk\nbob@sub.example.com\n"
        "@gmail.com\nexample.edu\n\x1A\r\n";
    for (const ListWarning& w : ExamineList(healthy.data(), healthy.size()))
        ADD_FAILURE() << ShowEntry(w.entry) << " " << w.message;
}

TEST(ExamineList, ReadsAByteOrderMarkAsThePluginDoes) {
    // Marked UTF-8 and UTF-16 either way round read as written: nothing to warn of.
    for (const std::string& healthy : {std::string("\xEF\xBB\xBF"
                                                   "ann@example.com\r\n"),
                                       std::string("\xEF\xBB\xBF\r\nann@example.com\r\n"),
                                       std::string("\xFF\xFE"
                                                   "a\0n\0n\0@\0x\0.\0i\0o\0\r\0\n\0",
                                                   22),
                                       std::string("\xFE\xFF"
                                                   "\0a\0n\0n\0@\0x\0.\0i\0o\0\r\0\n",
                                                   22)}) {
        EXPECT_TRUE(ExamineList(healthy.data(), healthy.size()).empty()) << ShowEntry(healthy);
    }
    // What UTF-16 hides is judged on the text the plug-in reads from it.
    const std::string spoilt(
        "\xFF\xFE"
        "a\0b\0\r\0\n\0",
        10);
    const auto read = ExamineList(spoilt.data(), spoilt.size());
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].message.find("is shorter than three"), 0u);
}

TEST_F(LearnTest, ListWarningsSayWhenTheListSwitchesTheFilterOffWhole) {
    const std::string list = folder_.File("quorvel.txt");
    auto printed = [&](bool sayWhenEmpty) {
        std::FILE* out = std::fopen(output_.File("out.txt").c_str(), "wb");
        const int count = PrintListWarnings(list, sayWhenEmpty, out);
        std::fclose(out);
        return std::to_string(count) + " " + Clean(output_.Read("out.txt"));
    };
    EXPECT_EQ(printed(false), "0 ");
    EXPECT_EQ(printed(true).find("1 Warnings about your list "), 0u);
    EXPECT_NE(printed(true).find("There is no list file"), std::string::npos);
    folder_.Write("quorvel.txt", "\r\n\r\n");
    EXPECT_NE(printed(true).find("The list is empty, so the plug-in passes every mail."),
              std::string::npos);
    folder_.Write("quorvel.txt", "ann@example.com\r\nx\r\n");
    EXPECT_EQ(printed(false).find("1 Warnings about your list "), 0u);
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
