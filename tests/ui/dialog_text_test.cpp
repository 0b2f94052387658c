#include "ui/dialog_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TrimChars, CutsBlanksTabsAndDotsAtBothEndsOnly) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"  ann@example.com. ", "ann@example.com"},
        {"\t.. .ann@example.com", "ann@example.com"},
        {"ann@example.com\t. \t", "ann@example.com"},
        {"ann lee@example.com", "ann lee@example.com"},
        {"a.b@example.com", "a.b@example.com"},
        {" . \t..\t ", ""},
        {"", ""},
        {"x", "x"},
        {".x.", "x"},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.text);
        TrimChars(buffer, kTrimSet);
        EXPECT_STREQ(buffer, c.expected) << "from \"" << c.text << "\"";
    }
}

TEST(TrimChars, OtherSetsAndFullBuffers) {
    char buffer[260];
    std::memset(buffer, ' ', 10);
    std::memset(buffer + 10, 'a', 249);
    buffer[259] = '\0';
    TrimChars(buffer, kTrimSet);
    EXPECT_EQ(std::string(buffer), std::string(249, 'a'));

    char digits[] = "12ab21";
    TrimChars(digits, "12");
    EXPECT_STREQ(digits, "ab");
}

TEST(FillInAddress, PutsTheAddressInTheOneSlot) {
    const struct {
        const char* format;
        const char* expected;
    } cases[] = {
        {"Do you want to delete the email address \"%s\"?",
         "Do you want to delete the email address \"ann@example.com\"?"},
        {"%s", "ann@example.com"},
        {"%s löschen? 100%%", "ann@example.com löschen? 100%"},
        {"%%%s%%", "%ann@example.com%"},
    };
    for (const auto& c : cases) {
        char out[1284];
        EXPECT_TRUE(FillInAddress(c.format, "ann@example.com", out, sizeof out)) << c.format;
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(FillInAddress, RefusesEveryOtherConversion) {
    for (const char* format : {"%n%s%s%x", "no slot", "%s and %s", "%d %s", "%5s", "%-s", "%S",
                               "100% %s", "%s %", "%", "%%s", "%s%n"}) {
        char out[64] = "untouched";
        EXPECT_FALSE(FillInAddress(format, "ann@example.com", out, sizeof out)) << format;
        EXPECT_STREQ(out, "") << format;
    }
}

TEST(FillInAddress, StaysWithinTheBuffer) {
    char out[12];
    std::memset(out, '#', sizeof out);
    EXPECT_TRUE(FillInAddress("Delete \"%s\"?", "ann@example.com", out, 10));
    EXPECT_STREQ(out, "Delete \"a");
    EXPECT_EQ(out[10], '#');

    // The largest question the editor can build fits its buffer whole.
    const std::string format = std::string(1021, 'q') + "%s";
    const std::string address(259, 'a');
    char message[1284];
    EXPECT_TRUE(FillInAddress(format.c_str(), address.c_str(), message, sizeof message));
    EXPECT_EQ(std::string(message), std::string(1021, 'q') + address);
}

TEST(ReplaceFileName, WritesOverTheNameWhenItFits) {
    const std::string name = "icons\\noblock.ico";
    const struct {
        std::string path;
        size_t size;
        std::string expected;
    } cases[] = {
        {"C:\\Host\\host.exe", 260, "C:\\Host\\icons\\noblock.ico"},
        {"C:\\host.exe", 260, "C:\\icons\\noblock.ico"},
        {"host.exe", 260, ""},
        {"", 260, ""},
        // Exactly room for the name and its zero byte, then one byte short.
        {"C:\\" + std::string(10, 'f') + "\\x", 14 + name.size() + 1,
         "C:\\" + std::string(10, 'f') + "\\" + name},
        {"C:\\" + std::string(10, 'f') + "\\x", 14 + name.size(), ""},
    };
    for (const auto& c : cases) {
        char buffer[300];
        std::memset(buffer, '#', sizeof buffer);
        std::strcpy(buffer, c.path.c_str());
        EXPECT_EQ(ReplaceFileName(buffer, c.size, name.c_str()), !c.expected.empty()) << c.path;
        EXPECT_EQ(std::string(buffer), c.expected) << c.path;
        EXPECT_EQ(std::string(buffer + c.size, sizeof buffer - c.size),
                  std::string(sizeof buffer - c.size, '#'))
            << "wrote past " << c.size << " bytes for " << c.path;
    }
}

}  // namespace
