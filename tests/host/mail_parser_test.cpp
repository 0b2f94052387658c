#include "tools/host/mail/mail_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tools/host/mail/byte_scans.h"
#include "tools/host/mail/mbox_stream.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(const std::string& mail) {
    Pairs pairs;
    for (const Header& header : ParseHeaders(mail.data(), mail.size())) {
        pairs.emplace_back(header.name, header.value);
    }
    return pairs;
}

TEST(ParseHeaders, ReadsTheHeaderBlock) {
    const struct {
        const char* what;
        std::string mail;
        Pairs expected;
    } cases[] = {
        {"LF lines, body not read",
         "To: ann@example.com\nSubject: hi\n\nCc: not@example.com\n",
         {{"To", "ann@example.com"}, {"Subject", "hi"}}},
        {"CR LF lines",
         "To: ann@example.com\r\nSubject: hi\r\n\r\nCc: not@example.com\r\n",
         {{"To", "ann@example.com"}, {"Subject", "hi"}}},
        {"folded with blanks and tabs, CR LF",
         "To: Ann <ann@example.com>,\r\n  Bob <bob@example.com>\r\n\tCarl\r\n\r\n",
         {{"To", "Ann <ann@example.com>,  Bob <bob@example.com>\tCarl"}}},
        {"blanks around the value go",
         "To:  ann@example.com \t\nCc:\n",
         {{"To", "ann@example.com"}, {"Cc", ""}}},
        {"a line without colon is the body of a mail that lacks its empty line",
         "To: a@example.com\nnot a header\n b@example.com\nCc: c@example.com\n",
         {{"To", "a@example.com"}}},
        {"a body line after the headers is never one of them",
         "To: deals@shop.example\nSubject: offer\nHello.\nTo: ann.lee@example.com\n",
         {{"To", "deals@shop.example"}, {"Subject", "offer"}}},
        {"a blank before the colon makes no field",
         "Cc: c@example.com\nTo : a@example.com\nCc: d@example.com\n",
         {{"Cc", "c@example.com"}}},
        {"a byte outside printable ASCII makes no name",
         "To: a\nFr\xF6m: x\nCc: b\n",
         {{"To", "a"}}},
        {"a line of blanks continues the header, it does not end the block",
         "To: a\n \t\nCc: b\n\nCc: body\n",
         {{"To", "a"}, {"Cc", "b"}}},
        {"a From line inside the block is dropped",
         "To: a\nFrom x Mon Jan  1 10:00:00 2024\nCc: b\n",
         {{"To", "a"}, {"Cc", "b"}}},
        {"a byte-order mark before the first field is passed over",
         "\xEF\xBB\xBFTo: a\nCc: b\n",
         {{"To", "a"}, {"Cc", "b"}}},
        {"no name before the colon",
         ": orphan\n continued\nTo: a@example.com\n",
         {{"To", "a@example.com"}}},
        {"continuation before any header",
         " stray\nTo: a@example.com\n",
         {{"To", "a@example.com"}}},
        {"no body and no line end at the end",
         "Subject: only headers\nTo: a@example.com",
         {{"Subject", "only headers"}, {"To", "a@example.com"}}},
        {"the colon in the value stays",
         "Received: from x by y; Mon, 1 Jan 2024 10:00:00 +0000\n",
         {{"Received", "from x by y; Mon, 1 Jan 2024 10:00:00 +0000"}}},
        {"8-bit bytes are kept exactly",
         "To: J\xF6rg \xE4\xFF <j@example.com>\n",
         {{"To", "J\xF6rg \xE4\xFF <j@example.com>"}}},
        {"a bare CR ends the line",
         "Subject: hi\rTo: stranger@x.com\n\nbody",
         {{"Subject", "hi"}, {"To", "stranger@x.com"}}},
        {"the line after a bare CR may be the body", "To: a\rb\n", {{"To", "a"}}},
        {"CR only: the block ends at its empty line",
         "To: a@x.com\rSubject: s\r\tmore\r\rTo: body@x.com\r",
         {{"To", "a@x.com"}, {"Subject", "s\tmore"}}},
        {"CR before CR LF is a line and an empty line", "To: a\r\r\nCc: b\n\n", {{"To", "a"}}},
        {"an envelope line ended by a bare CR", "From env\rTo: a\n\n", {{"To", "a"}}},
        {"empty mail", "", {}},
        {"empty first line: no headers", "\nTo: a@example.com\n", {}},
        {"CR LF empty line ends the block", "To: a\r\n\r\n b\r\n", {{"To", "a"}}}};
    for (const auto& c : cases) EXPECT_EQ(Parse(c.mail), c.expected) << c.what;
}

TEST(ParseHeaders, NulBytesBecomeBlanksSoNothingIsHidden) {
    const std::string mail("To: ann\0@example.com\nTo: x\0y\nT\0o: z\nCc: w\n", 42);
    // In a name a zero byte is no name character: that line ends the block.
    EXPECT_EQ(Parse(mail), (Pairs{{"To", "ann @example.com"}, {"To", "x y"}}));
}

TEST(ParseHeaders, HugeHeaderIsReadWhole) {
    std::string mail = "To: " + std::string(1 << 20, 'a') + "@example.com\n";
    std::string expected = std::string(1 << 20, 'a') + "@example.com";
    for (int i = 0; i < 100000; ++i) {
        mail += " b\r\n";
        expected += " b";
    }
    mail += "\nbody\n";
    const Pairs pairs = Parse(mail);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].second.size(), expected.size());
    EXPECT_TRUE(pairs[0].second == expected);
}

TEST(ParseHeaders, ReadsOnlyTheGivenBytes) {
    // The size, not a zero byte, ends the data: a fuzzer hands buffers over this way.
    const char data[] = "To: a@example.com\nCc: b@example.com\n";
    EXPECT_EQ(ParseHeaders(data, 12).size(), 1u);
    EXPECT_EQ(ParseHeaders(data, 12)[0].value, "a@exampl");
}

TEST(ParseHeaders, IntoAReusedVectorLeavesNothingOfTheMailBefore) {
    std::vector<Header> headers;
    for (const std::string& mail :
         {std::string("To: " + std::string(300, 'a') + "\nCc: b\n\tc\nX-1: d\nX-2: e\n\n"),
          std::string("Received: r\n\ts\n: no name\n \tlost\nTo:   \n\t x \n\n"),
          std::string("Subject: one\n"), std::string(""), std::string("To: \0z", 6)}) {
        ParseHeaders(mail.data(), mail.size(), headers);
        const std::vector<Header> fresh = ParseHeaders(mail.data(), mail.size());
        ASSERT_EQ(headers.size(), fresh.size()) << mail;
        for (size_t i = 0; i < fresh.size(); ++i) {
            EXPECT_EQ(headers[i].name, fresh[i].name) << mail;
            EXPECT_EQ(headers[i].value, fresh[i].value) << mail;
        }
    }
}

// The scans look at 16 bytes or a word at a time: each test runs with both.
class ScanTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { UseWideScans(GetParam()); }
    void TearDown() override { UseWideScans(true); }
};
INSTANTIATE_TEST_SUITE_P(Widths, ScanTest, ::testing::Values(true, false));

// Every alignment, length and place of the byte against the plain answer.
TEST_P(ScanTest, FindByteAndFindLineEndAgreeWithAPlainSearchAtEveryAlignment) {
    std::string text;
    for (int i = 0; i < 80; ++i) text += static_cast<char>("ab\x80\xFF\x0B\t"[i % 6]);
    for (size_t at = 0; at <= 40; ++at) {
        std::string copy = text;
        if (at < 40) copy[at + 7] = '\n';
        // A line end is either byte, whichever comes first.
        if (at % 3 == 0 && at < 37) copy[at + 10] = '\r';
        if (at % 3 == 1) copy[at + 3] = '\r';
        for (size_t begin = 0; begin < 8; ++begin) {
            for (size_t size = 0; begin + size <= 60; ++size) {
                const char* data = copy.data() + begin;
                const void* expected = std::memchr(data, '\n', size);
                EXPECT_EQ(FindByte(data, size, '\n'), expected)
                    << at << " " << begin << " " << size;
                const char* end =
                    std::find_if(data, data + size, [](char c) { return c == '\n' || c == '\r'; });
                EXPECT_EQ(FindLineEnd(data, size), end == data + size ? nullptr : end)
                    << at << " " << begin << " " << size;
            }
        }
    }
}

TEST_P(ScanTest, NextPossibleSeparatorStopsOnlyWhereALineMayBeAFromLine) {
    const std::string body = "line\n>From quoted\nFrom\nFrom:x\nfrom y\n\n";
    for (size_t pad = 0; pad < 20; ++pad) {
        const std::string text = std::string(pad, 'x') + "\n" + body + "From a\nrest";
        const char* end = text.data() + text.size();
        EXPECT_EQ(NextPossibleSeparator(text.data(), end) - text.data(),
                  static_cast<ptrdiff_t>(pad + 1 + body.size()));
        // Fewer than five bytes left, or a line without its line feed, may be one.
        const char* rest = end - 4;
        EXPECT_EQ(NextPossibleSeparator(rest - 3, end), rest);
        EXPECT_EQ(NextPossibleSeparator(rest - 3, end - 1), rest);
        const char* last = text.data() + pad + 1 + body.size() + 7;
        EXPECT_EQ(NextPossibleSeparator(last - 1, end - 1), last - 1);
    }
    const std::string unended = "x\nno line feed after this line";
    EXPECT_EQ(NextPossibleSeparator(unended.data(), unended.data() + unended.size()),
              unended.data() + 2);
}

// The header blocks of an mbox read in one piece.
std::vector<std::string> Split(const std::string& mbox) {
    std::vector<std::string> mails;
    const std::string path = "m";
    const MailSink sink = [&](const std::string& label, const char* headers, size_t size) {
        EXPECT_EQ(label, "m [" + std::to_string(mails.size() + 1) + "]");
        mails.emplace_back(headers, size);
    };
    MailSplitter splitter(path, true, sink);
    splitter.Feed(mbox.data(), mbox.size());
    splitter.Finish();
    return mails;
}

TEST(MailSplitter, SplitsOnFromLinesOnly) {
    const std::string mbox =
        "From ann@example.com Mon Jan  1 10:00:00 2024\n"
        "To: ann@example.com\n\nHello\n>From the start, said she.\n"
        "Not From here\n\n"
        "From bob@example.net Tue Jan  2 10:00:00 2024\n"
        "To: bob@example.net\n\n>>From two levels\n\n"
        "From carl@example.org Wed Jan  3 10:00:00 2024\n"
        "To: carl@example.org\n";
    const auto mails = Split(mbox);
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_EQ(mails[0], "To: ann@example.com\n\n");
    EXPECT_EQ(mails[1], "To: bob@example.net\n\n");
    EXPECT_EQ(mails[2], "To: carl@example.org\n");
    EXPECT_EQ(Parse(mails[1]), (Pairs{{"To", "bob@example.net"}}));
}

TEST(MailSplitter, HandlesCrLfAndEdges) {
    EXPECT_EQ(Split("From a\r\nTo: x\r\n\r\nFrom b\r\nTo: y\r\n"),
              (std::vector<std::string>{"To: x\r\n\r\n", "To: y\r\n"}));
    // Only a line feed starts an mbox line: a CR-only mail's body runs to the next one.
    EXPECT_EQ(Split("From a\nTo: x\rCc: y\r\rbody\rFrom b\rTo: no\r\nFrom c\nTo: z\n"),
              (std::vector<std::string>{"To: x\rCc: y\r\r", "To: z\n"}));
    EXPECT_EQ(Split("From a\nSubject: s\rbody line\rFrom b\rTo: no\n"),
              (std::vector<std::string>{"Subject: s\r"}));
    EXPECT_EQ(Split("From a\rTo: lost\nCc: y\n"), (std::vector<std::string>{"Cc: y\n"}));
    EXPECT_EQ(Split("From a\nTo: x\rFrom b\nCc: y\n"),
              (std::vector<std::string>{"To: x\rFrom b\nCc: y\n"}));
    EXPECT_EQ(Split("From a\r\nTo: x\r\r\nFrom b\nTo: y\r\n\r\n"),
              (std::vector<std::string>{"To: x\r\r\n", "To: y\r\n\r\n"}));
    EXPECT_EQ(Split("From a"), (std::vector<std::string>{""}));
    EXPECT_EQ(Split("From a\nFrom b\n"), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(Split("").empty());
    EXPECT_EQ(Split("junk before\nFrom a\nTo: x\n"), (std::vector<std::string>{"To: x\n"}));
}

// Wherever the stream is cut, above all between a CR and its LF, the blocks
// read the same as in one piece.
TEST(MailSplitter, ReadsTheSameWhereverAPieceEnds) {
    for (const std::string mbox :
         {"From a\r\nTo: x\r\nCc: y\r\n\r\nbody\r\nFrom b\r\nTo: z\r\n",
          "From a\nTo: x\rCc: y\r\rbody\rFrom b\rTo: no\r\nFrom c\rTo: lost\nCc: z\r",
          "From a\nTo: x\rFrom b\nCc: y\r\r\nFrom c\nTo: z\r\n\tw\rx\n"}) {
        const std::vector<std::string> whole = Split(mbox);
        for (size_t cut = 1; cut < mbox.size(); ++cut) {
            std::vector<std::string> mails;
            const std::string path = "m";
            const MailSink sink = [&](const std::string&, const char* headers, size_t size) {
                mails.emplace_back(headers, size);
            };
            MailSplitter splitter(path, true, sink);
            splitter.Feed(mbox.data(), cut);
            splitter.Feed(mbox.data() + cut, mbox.size() - cut);
            splitter.Finish();
            ASSERT_EQ(mails.size(), whole.size()) << cut << " in " << mbox;
            for (size_t i = 0; i < whole.size(); ++i) {
                EXPECT_EQ(Parse(mails[i]), Parse(whole[i])) << cut << " in " << mbox;
            }
        }
    }
}

TEST(MailKind, TellsMailFromOtherFiles) {
    const struct {
        std::string data;
        bool mbox;
        bool mail;
    } cases[] = {
        {"From ann@example.com Mon Jan  1 10:00:00 2024\n", true, true},
        {"From: ann@example.com\n", false, true},
        {"Return-Path: <a@example.com>\n", false, true},
        {"X-Odd!Name~: x", false, true},
        {"ann@example.com\r\nexample.net\r\n", false, false},
        {"# verdicts\npass  x\n", false, false},
        {"Subject : old style\n", false, false},
        {": no name\n", false, false},
        {"To\n: split\n", false, false},
        {"Fr\xF6m: x\n", false, false},
        {"", false, false},
        {"From", false, false},
        {"\xEF\xBB\xBFTo: a\n", false, true},
        {"\xEF\xBB\xBF"
         "From a\nTo: x\n",
         true, true},
        {"\r\n\nFrom a\nTo: x\n", false, true},
        {"exported by a tool\nFrom a\nTo: x\n", false, true},
        {"# notes\nFrom here on, plain text\nmore\n", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsMbox(c.data.data(), c.data.size()), c.mbox) << c.data;
        EXPECT_EQ(LooksLikeMail(c.data.data(), c.data.size()), c.mail) << c.data;
        // Whatever passes as a mail reads as one.
        if (c.mail && MboxStart(c.data.data(), c.data.size()) == std::string::npos) {
            EXPECT_FALSE(Parse(c.data).empty()) << c.data;
        }
    }
}

TEST(MailKind, AnMboxStartsAtItsFirstSeparatorAfterJunk) {
    const struct {
        std::string data;
        size_t start;
    } cases[] = {
        {"From a\nTo: x\n", 0},
        {"\n\r\nFrom a\nTo: x\n", 3},
        {"stray line\nFrom a\nTo: x\n", 11},
        {"\xEF\xBB\xBF"
         "From a\n",
         3},
        {"To: x\n\nFrom a\nTo: y\n", std::string::npos},  // a mail, and its body
        {"notes\nFrom a\nnot a mail\n", std::string::npos},
        {"notes\nFrom a", std::string::npos},
        {"", std::string::npos},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MboxStart(c.data.data(), c.data.size()), c.start) << c.data;
}

}  // namespace
