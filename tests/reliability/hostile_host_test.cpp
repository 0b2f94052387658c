// Hosts that answer the plug-in's requests badly: garbage results, nothing
// written, a text that fills the whole buffer without a zero byte, a translation
// full of printf conversions, records scribbled over. The real module, its page
// driven as a user would, must not crash and must still show the user a sane
// delete question and duplicate message.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/loaded_plugin.h"
#include "tests/support/window_driver.h"
#include "tests/temp_folder.h"

namespace {

// What the hosts saw: the text buffer sizes the plug-in declared.
std::vector<int32_t> g_bufferSizes;

bool AsTextRequest(void* request, HostRequest* text) {
    *text = ReadRequest(request);
    if (text->code != HS_ADAPT_TEXT) return false;
    g_bufferSizes.push_back(text->destinationSize);
    return true;
}
void Put(const HostRequest& text, const char* answer) {
    std::strncpy(text.destination, answer, static_cast<size_t>(text.destinationSize) - 1);
    text.destination[text.destinationSize - 1] = '\0';
}
bool IsDeleteQuestion(const HostRequest& text) {
    return text.source.find("delete") != std::string::npos;
}

int32_t __cdecl GarbageHost(void*) {
    return static_cast<int32_t>(0xDEADBEEF);
}
int32_t __cdecl SilentHost(void* request) {
    HostRequest text;
    AsTextRequest(request, &text);
    return 0;
}
int32_t __cdecl FullBufferHost(void* request) {
    HostRequest text;
    if (AsTextRequest(request, &text)) std::memset(text.destination, 'A', text.destinationSize);
    return 1;
}
int32_t __cdecl PrintfHost(void* request) {
    HostRequest text;
    if (AsTextRequest(request, &text)) Put(text, "%n%s%s%x");
    return 1;
}
int32_t __cdecl ScribblingHost(void* request) {
    HostRequest text;
    if (AsTextRequest(request, &text)) {
        Put(text, IsDeleteQuestion(text) ? "Adresse \"%s\" entfernen? 100%%" : "Schon da!");
        std::memset(const_cast<void*>(PointerAt(request, kRequestData)), 0xFF, sizeof(TextRequest));
    } else if (text.code == HS_ADAPT_DIALOG) {
        SetWindowTextA(text.dialog, "Adressen");
    }
    std::memset(request, 0xFF, sizeof(ServiceRequest));
    return -1;
}

const std::string kQuestion = "Do you want to delete the email address \"ann@example.com\"?";
const std::string kDuplicate = "This email address is already in the list!";

struct HostCase {
    const char* what;
    int32_t(__cdecl* host)(void*);
    std::string question;   // the delete question the user sees
    std::string duplicate;  // the duplicate message the user sees
};

TEST(HostileHost, UserStillSeesSaneMessages) {
    const HostCase cases[] = {
        {"no host", nullptr, kQuestion, kDuplicate},
        {"returns garbage, writes nothing", GarbageHost, kQuestion, kDuplicate},
        {"leaves the buffer alone", SilentHost, kQuestion, kDuplicate},
        {"fills the whole buffer without a zero byte", FullBufferHost, kQuestion,
         std::string(1023, 'A')},
        {"translates to printf conversions", PrintfHost, kQuestion, "%n%s%s%x"},
        {"translates, then scribbles over the records", ScribblingHost,
         "Adresse \"ann@example.com\" entfernen? 100%", "Schon da!"},
    };
    const std::string list = "ann@example.com\r\nbob@example.org\r\n";
    for (const HostCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        LoadedPlugin plugin(folder.path(), &list);
        plugin.Service(RS_HOST_CALLBACK, reinterpret_cast<void*>(c.host));
        g_bufferSizes.clear();
        PageDriver page(plugin);

        ASSERT_TRUE(page.Delete("ann@example.com", false));
        page.Add("  BOB@example.org.");
        ASSERT_EQ(page.messages.size(), 2u);
        EXPECT_EQ(page.messages[0], c.question);
        EXPECT_EQ(page.messages[1], c.duplicate);
        for (int32_t size : g_bufferSizes) EXPECT_EQ(size, 1024) << "declared buffer size";

        // The answers changed nothing; a Yes still deletes.
        EXPECT_EQ(page.Rows().size(), 2u);
        EXPECT_EQ(plugin.CheckTo("ann@example.com"), 0);
        ASSERT_TRUE(page.Delete("ann@example.com", true));
        EXPECT_EQ(plugin.CheckTo("ann@example.com"), -1);
        EXPECT_EQ(plugin.CheckTo("bob@example.org"), 0);
    }
}

TEST(HostileHost, BadServiceCallsChangeNothing) {
    TempFolder folder;
    const std::string list = "ann@example.com\r\n";
    LoadedPlugin plugin(folder.path(), &list);
    const auto receive = plugin.Export<LoadedPlugin::ReceiveServiceFn>("ReceiveService");
    EXPECT_EQ(receive(nullptr), nullptr);
    plugin.Service(RS_HOST_CALLBACK, reinterpret_cast<void*>(&PrintfHost));
    for (uint32_t code : {3u, 7u, HS_ADAPT_DIALOG, HS_ADAPT_TEXT, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(plugin.Service(code, reinterpret_cast<void*>(&GarbageHost)), nullptr) << code;
    }
    EXPECT_EQ(plugin.Service(RS_HOST_CALLBACK, nullptr), nullptr)
        << "a null callback withdraws the host's";
    EXPECT_STREQ(static_cast<const char*>(plugin.Service(RS_GET_NAME)), "Quorvel");

    g_bufferSizes.clear();
    PageDriver page(plugin);
    page.Add("ann@example.com");
    ASSERT_TRUE(page.Delete("ann@example.com", false));
    EXPECT_TRUE(g_bufferSizes.empty()) << "a withdrawn host was asked";
    EXPECT_EQ(page.messages, (std::vector<std::string>{kDuplicate, kQuestion}));
    EXPECT_EQ(plugin.CheckTo("ann@example.com"), 0);
}

}  // namespace
