#include "addresses/list_file.h"

#include <gtest/gtest.h>

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

struct ParseCase {
    const char* what;
    std::string bytes;
    Entries expected;
};

TEST(ListFileParser, FollowsTheTextModeRules) {
    const ParseCase cases[] = {
        {"CR LF and LF end lines", "a\r\nb\nc\r\n", {"a", "b", "c"}},
        {"a bare CR stays", "a\rb\n", {"a\rb"}},
        {"CR CR LF keeps the first CR", "a\r\r\nb\n", {"a\r", "b"}},
        {"a CR at the end of the data stays", "a\r", {"a\r"}},
        {"empty lines are skipped", "\n\r\na\n\n\r\nb\r\n\n", {"a", "b"}},
        {"blanks, tabs and dots stay", " \t.a. \n  \n", {" \t.a. ", "  "}},
        {"Ctrl-Z ends the data",
         "a\r\nb\x1a"
         "c\r\nd\r\n",
         {"a", "b"}},
        {"Ctrl-Z between CR and LF", "a\r\x1a\n", {"a\r"}},
        {"only Ctrl-Z", "\x1a", {}},
        {"a zero byte ends the entry", std::string("a\0b\nc\n", 6), {"a", "c"}},
        {"a line starting with zero is no entry", std::string("\0ab\nc\n", 6), {"c"}},
        {"a last line without line end is taken", "a\nlast", {"a", "last"}},
        {"258 bytes", Xs(258) + "\n", {Xs(258)}},
        {"259 bytes", Xs(259) + "\n", {Xs(259)}},
        {"259 bytes and CR LF", Xs(259) + "\r\n", {Xs(259)}},
        {"260 bytes split", Xs(260) + "\n", {Xs(259), "x"}},
        {"518 bytes split twice", Xs(518) + "\r\n", {Xs(259), Xs(259)}},
        {"519 bytes without line end", Xs(519), {Xs(259), Xs(259), "x"}},
        {"8-bit bytes are text", "\xe4\xf6\xfc@b\xe4r.de\n", {"\xe4\xf6\xfc@b\xe4r.de"}},
        {"empty file", "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseWhole(c.bytes), c.expected) << c.what;
        EXPECT_EQ(ParseByteByByte(c.bytes), c.expected) << c.what << " (byte by byte)";
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
