#include "addresses/list_file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

void Collect(void* entries, const char* text) {
    static_cast<Entries*>(entries)->push_back(text);
}

Entries ParseWhole(const std::string& bytes) {
    Entries entries;
    ListFileParser parser(Collect, &entries);
    parser.Feed(bytes.data(), bytes.size());
    parser.Finish();
    return entries;
}

// One byte at a time: a CR LF pair or a piece may straddle any chunk boundary.
Entries ParseByteByByte(const std::string& bytes) {
    Entries entries;
    ListFileParser parser(Collect, &entries);
    for (char c : bytes) parser.Feed(&c, 1);
    parser.Finish();
    return entries;
}

std::string Xs(size_t n) {
    return std::string(n, 'x');
}

// Where the parser says each piece stands, as "line:start+length" words, and
// a Ctrl-Z as "^Z line:offset": fed whole or one byte at a time.
void CollectPiece(void* words, const ListFileParser::Piece& piece) {
    static_cast<std::vector<std::string>*>(words)->push_back(std::to_string(piece.line) + ":" +
                                                             std::to_string(piece.start) + "+" +
                                                             std::to_string(piece.length));
}

std::string Pieces(const std::string& bytes, bool byteByByte) {
    std::vector<std::string> words;
    ListFileParser parser([](void*, const char*) {}, nullptr);
    parser.TapPieces(CollectPiece, &words);
    if (byteByByte) {
        for (char c : bytes) parser.Feed(&c, 1);
    } else {
        parser.Feed(bytes.data(), bytes.size());
    }
    parser.Finish();
    if (parser.ctrlZAt() != ListFileParser::kNoCtrlZ) {
        words.push_back("^Z " + std::to_string(parser.line()) + ":" +
                        std::to_string(parser.ctrlZAt()));
    }
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

struct ParseCase {
    const char* what;
    std::string bytes;
    Entries expected;
    const char* pieces;
};

TEST(ListFileParser, FollowsTheTextModeRules) {
    const ParseCase cases[] = {
        {"CR LF and LF end lines", "a\r\nb\nc\r\n", {"a", "b", "c"}, "1:0+1 2:3+1 3:5+1"},
        {"a bare CR stays", "a\rb\n", {"a\rb"}, "1:0+3"},
        {"CR CR LF keeps the first CR", "a\r\r\nb\n", {"a\r", "b"}, "1:0+2 2:4+1"},
        {"a CR at the end of the data stays", "a\r", {"a\r"}, "1:0+2"},
        {"empty lines are skipped",
         "\n\r\na\n\n\r\nb\r\n\n",
         {"a", "b"},
         "1:0+0 2:1+0 3:3+1 4:5+0 5:6+0 6:8+1 7:11+0"},
        {"blanks, tabs and dots stay", " \t.a. \n  \n", {" \t.a. ", "  "}, "1:0+6 2:7+2"},
        {"Ctrl-Z ends the data",
         "a\r\nb\x1a"
         "c\r\nd\r\n",
         {"a", "b"},
         "1:0+1 2:3+1 ^Z 2:4"},
        {"Ctrl-Z between CR and LF", "a\r\x1a\n", {"a\r"}, "1:0+2 ^Z 1:2"},
        {"only Ctrl-Z", "\x1a", {}, "^Z 1:0"},
        {"a zero byte ends the entry", std::string("a\0b\nc\n", 6), {"a", "c"}, "1:0+3 2:4+1"},
        {"a line starting with zero is no entry",
         std::string("\0ab\nc\n", 6),
         {"c"},
         "1:0+3 2:4+1"},
        {"a last line without line end is taken", "a\nlast", {"a", "last"}, "1:0+1 2:2+4"},
        {"258 bytes", Xs(258) + "\n", {Xs(258)}, "1:0+258"},
        {"259 bytes", Xs(259) + "\n", {Xs(259)}, "1:0+259 1:259+0"},
        {"259 bytes and CR LF", Xs(259) + "\r\n", {Xs(259)}, "1:0+259 1:259+0"},
        {"260 bytes split", Xs(260) + "\n", {Xs(259), "x"}, "1:0+259 1:259+1"},
        {"518 bytes split twice",
         Xs(518) + "\r\n",
         {Xs(259), Xs(259)},
         "1:0+259 1:259+259 1:518+0"},
        {"519 bytes without line end",
         Xs(519),
         {Xs(259), Xs(259), "x"},
         "1:0+259 1:259+259 1:518+1"},
        {"8-bit bytes are text", "\xe4\xf6\xfc@b\xe4r.de\n", {"\xe4\xf6\xfc@b\xe4r.de"}, "1:0+10"},
        {"empty file", "", {}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseWhole(c.bytes), c.expected) << c.what;
        EXPECT_EQ(ParseByteByByte(c.bytes), c.expected) << c.what << " (byte by byte)";
        EXPECT_EQ(Pieces(c.bytes, false), c.pieces) << c.what;
        EXPECT_EQ(Pieces(c.bytes, true), c.pieces) << c.what << " (byte by byte)";
    }
}

// UTF-16 bytes of the units, in either byte order, after the mark.
std::string Utf16(bool little, const std::u16string& units) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : units) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
    }
    return bytes;
}

// The tests run on a UTF-8 code page (natively) and on Windows-1252 (under Wine).
unsigned CodePage() {
#ifdef _WIN32
    return GetACP();
#else
    return 65001;
#endif
}

bool CodePageIsUtf8() {
    return CodePage() == 65001;
}

// ü as the system's code page writes it.
std::string USystem() {
    return CodePageIsUtf8() ? "\xC3\xBC" : "\xFC";
}

// A line of n x's as the entries of its pieces.
Entries Pieces(size_t n) {
    Entries pieces(n / kMaxPiece, Xs(kMaxPiece));
    if (n % kMaxPiece) pieces.push_back(Xs(n % kMaxPiece));
    return pieces;
}

struct ReaderCase {
    const char* what;
    std::string bytes;
    Entries expected;
    ListEncoding encoding;
    unsigned losses;
};

template <typename Step>
void ReadAll(ListFileReader& reader, const std::string& bytes, Step step) {
    for (size_t at = 0; at < bytes.size(); at += step) {
        reader.Feed(bytes.data() + at, std::min<size_t>(step, bytes.size() - at));
    }
    reader.Finish();
}

TEST(ListFileReader, DecodesEditorsMarksAndTellsWhatWouldBeLost) {
    using E = ListEncoding;
    ASSERT_TRUE(CodePageIsUtf8() || CodePage() == 1252) << "the cases know these two code pages";
    // Where the code page lacks a character, its line is no entry and would be lost.
    const bool all = CodePageIsUtf8();
    const unsigned lacking = all ? 0u : unsigned{kLostUnconvertible};
    const ReaderCase cases[] = {
        {"8-bit, nothing lost",
         "a\rb\n\nc\r\n" + Xs(259) + "\r\n",
         {"a\rb", "c", Xs(259)},
         E::Bytes,
         0},
        {"a split line", Xs(260) + "\n", {Xs(259), "x"}, E::Bytes, kLostSplitLine},
        {"a zero byte", std::string("a\0b\nc\n", 7), {"a", "c"}, E::Bytes, kLostAfterZeroByte},
        {"a Ctrl-Z at the end", "a\r\n\x1a", {"a"}, E::Bytes, kLostAfterCtrlZ},
        {"a UTF-8 mark is passed over",
         "\xEF\xBB\xBF"
         "a\r\n",
         {"a"},
         E::Utf8Marked,
         0},
        {"half a mark is text", "\xEF\xBBx\n", {"\xEF\xBBx"}, E::Bytes, 0},
        {"a file of a mark's first byte", "\xFF", {"\xFF"}, E::Bytes, 0},
        {"UTF-16 LE", Utf16(true, u"a@x\r\nb\n"), {"a@x", "b"}, E::Utf16Le, 0},
        {"UTF-16 BE", Utf16(false, u"a@x\r\n\r\nb"), {"a@x", "b"}, E::Utf16Be, 0},
        {"UTF-16, a zero unit and Ctrl-Z",
         Utf16(true, std::u16string(u"a\0b\nc\x1a"
                                    u"d\n",
                                    8)),
         {"a", "c"},
         E::Utf16Le,
         kLostAfterZeroByte | kLostAfterCtrlZ},
        {"UTF-16, half a surrogate pair",
         Utf16(true,
               u"a\xD800"
               u"b\n\xDC00\nc\n\xD800"),
         {"c"},
         E::Utf16Le,
         kLostUnconvertible},
        {"UTF-16, a character the code page lacks",
         Utf16(false, u"\u2605\r\n\u4E2D@x.cn\r\nb@x.cn"),
         all ? Entries{"\xE2\x98\x85", "\xE4\xB8\xAD@x.cn", "b@x.cn"} : Entries{"b@x.cn"},
         E::Utf16Be, lacking},
        // Best fit would make it lukasz@example.pl, someone else.
        {"UTF-16, a letter with only a look-alike",
         Utf16(true, u"\u0142ukasz@example.pl\r\nann@x.pl\r\n"),
         all ? Entries{"\xC5\x82ukasz@example.pl", "ann@x.pl"} : Entries{"ann@x.pl"}, E::Utf16Le,
         lacking},
        {"UTF-16, a Ctrl-Z in a line that does not convert",
         Utf16(true,
               u"a@x\nb\xDC00\x1a"
               u"c\nd\n"),
         {"a@x"},
         E::Utf16Le,
         kLostUnconvertible | kLostAfterCtrlZ},
        {"UTF-16, a long line that does not convert at its end",
         Utf16(true, std::u16string(5000, u'x') + u"\xDC00\nok\n"),
         {"ok"},
         E::Utf16Le,
         kLostUnconvertible},
        {"UTF-16, a long line", Utf16(true, std::u16string(4100, u'x') + u"\n"), Pieces(4100),
         E::Utf16Le, kLostSplitLine},
        {"UTF-8 converted",
         "\xEF\xBB\xBF"
         "j\xC3\xBCrgen@x.org\r\nann@x.org",
         {"j" + USystem() + "rgen@x.org", "ann@x.org"},
         E::Utf8Marked,
         0},
        {"UTF-8, broken: a cut character, a stray byte, a surrogate, an overlong form",
         "\xEF\xBB\xBF"
         "a\xC3\r\nb\xBF\nc\xED\xA0\x80\n\xC0\xAF\nd@x\n\xF4\x90\x80\x80\ne\xE2\x98",
         {"d@x"},
         E::Utf8Marked,
         kLostUnconvertible},
        {"UTF-16, an odd last byte",
         Utf16(false, u"a\n") + "b",
         {"a"},
         E::Utf16Be,
         kLostUnconvertible},
        {"UTF-16, 259 bytes counted after decoding",
         Utf16(true, std::u16string(300, u'x')),
         {Xs(259), Xs(41)},
         E::Utf16Le,
         kLostSplitLine},
    };
    for (const auto& c : cases) {
        for (const size_t step : {c.bytes.size() + 1, size_t{1}, size_t{3}}) {
            Entries entries;
            ListFileReader reader(Collect, &entries);
            ReadAll(reader, c.bytes, step);
            EXPECT_EQ(entries, c.expected) << c.what << " in chunks of " << step;
            EXPECT_EQ(reader.encoding(), c.encoding) << c.what;
            EXPECT_EQ(reader.losses(), c.losses) << c.what << " in chunks of " << step;
        }
    }
}

struct Sink {
    std::string bytes;
    size_t failAfter = SIZE_MAX;  // calls that succeed before the first failure
    size_t calls = 0;
};

bool Append(void* context, const char* data, size_t size) {
    auto* sink = static_cast<Sink*>(context);
    if (sink->calls++ >= sink->failAfter) return false;
    sink->bytes.append(data, size);
    return true;
}

TEST(ListFileWriter, EndsEveryEntryWithCrLf) {
    Sink sink;
    ListFileWriter writer(Append, &sink);
    writer.AddEntry("c");
    writer.AddEntry("a\rb");
    writer.AddEntry(" x. ");
    EXPECT_TRUE(writer.Finish());
    EXPECT_EQ(sink.bytes, "c\r\na\rb\r\n x. \r\n");
}

TEST(ListFileWriter, WhatItWritesReadsBackTheSame) {
    const Entries entries = {"a", "b\r", "\t.", Xs(259), "\xff\xfe"};
    Sink sink;
    ListFileWriter writer(Append, &sink);
    for (const auto& e : entries) writer.AddEntry(e.c_str());
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ParseWhole(sink.bytes), entries);

    // In the editors' forms, with their marks, and the text converted.
    const std::string u = USystem();
    const Entries texts = {"a", "b\r", "j" + u + "rgen@x.org", Xs(259)};
    const std::string tail = Xs(259) + "\r\n";
    const struct {
        ListEncoding encoding;
        std::string bytes;
    } forms[] = {
        {ListEncoding::Utf8Marked,
         "\xEF\xBB\xBF"
         "a\r\nb\r\r\nj\xC3\xBCrgen@x.org\r\n" +
             tail},
        {ListEncoding::Utf16Le,
         Utf16(true, u"a\r\nb\r\r\nj\u00fcrgen@x.org\r\n" + std::u16string(259, u'x') + u"\r\n")},
        {ListEncoding::Utf16Be,
         Utf16(false, u"a\r\nb\r\r\nj\u00fcrgen@x.org\r\n" + std::u16string(259, u'x') + u"\r\n")},
    };
    for (const auto& form : forms) {
        Sink bytes;
        ListFileWriter marked(Append, &bytes, form.encoding);
        for (const auto& e : texts) marked.AddEntry(e.c_str());
        ASSERT_TRUE(marked.Finish());
        EXPECT_TRUE(bytes.bytes == form.bytes) << static_cast<int>(form.encoding);
        Entries read;
        ListFileReader reader(Collect, &read);
        ReadAll(reader, bytes.bytes, 5);
        EXPECT_EQ(read, texts) << static_cast<int>(form.encoding);
        EXPECT_EQ(reader.encoding(), form.encoding);
        EXPECT_EQ(reader.losses(), 0u);
    }
}

// A first entry that starts like a mark would come back as the mark.
TEST(ListFileWriter, KeepsAFirstEntryThatLooksLikeAMarkText) {
    for (const char* first : {"\xFF\xFE"
                              "a",
                              "\xFE\xFF",
                              "\xEF\xBB\xBF"
                              "b"}) {
        Sink sink;
        ListFileWriter writer(Append, &sink);
        writer.AddEntry(first);
        ASSERT_TRUE(writer.Finish());
        Entries read;
        ListFileReader reader(Collect, &read);
        ReadAll(reader, sink.bytes, sink.bytes.size());
        EXPECT_EQ(read, Entries{first});
        EXPECT_EQ(reader.encoding(), ListEncoding::Bytes);
    }
}

TEST(ListFileWriter, BuffersLargeListsAndReportsTheFirstFailure) {
    Sink whole;
    ListFileWriter writer(Append, &whole);
    for (int i = 0; i < 2000; ++i) writer.AddEntry("someone@example.org");
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(whole.bytes.size(), 2000u * 21);
    EXPECT_GT(whole.calls, 1u);

    Sink failing;
    failing.failAfter = 1;
    ListFileWriter broken(Append, &failing);
    for (int i = 0; i < 2000; ++i) broken.AddEntry("someone@example.org");
    EXPECT_FALSE(broken.Finish());
    EXPECT_EQ(failing.calls, 2u) << "writing must stop at the first failure";
}

}  // namespace
