#include "plugin/host_service.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int32_t SomeHost(ServiceRequest*) {
    return 0;
}

class ReceiveServiceTest : public ::testing::Test {
  protected:
    void TearDown() override {
        g_hostServiceProc = nullptr;
        g_optionsPage = nullptr;
    }
    static void* Send(uint32_t code, void* data = nullptr) {
        ServiceRequest request = {sizeof(ServiceRequest), kHostName, code, 0, data};
        return ReceiveService(&request);
    }
};

TEST_F(ReceiveServiceTest, HostCallbackIsReplacedAndCleared) {
    EXPECT_EQ(Send(RS_HOST_CALLBACK, reinterpret_cast<void*>(&SomeHost)), nullptr);
    EXPECT_EQ(g_hostServiceProc, &SomeHost);
    Send(RS_HOST_CALLBACK, nullptr);
    EXPECT_EQ(g_hostServiceProc, nullptr);
}

TEST_F(ReceiveServiceTest, NameAndPageAnswerWithoutACallback) {
    const auto* name = static_cast<const char*>(Send(RS_GET_NAME));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "Quorvel");

    EXPECT_EQ(Send(RS_GET_OPTIONS_PAGE), nullptr) << "no page built yet";
    auto* page = reinterpret_cast<OptionsPageInfo*>(&g_hostServiceProc);
    g_optionsPage = page;
    EXPECT_EQ(Send(RS_GET_OPTIONS_PAGE), page);
}

TEST_F(ReceiveServiceTest, UnknownCodesAndNullChangeNothing) {
    Send(RS_HOST_CALLBACK, reinterpret_cast<void*>(&SomeHost));
    for (uint32_t code : {3u, 7u, HS_ADAPT_DIALOG, 0xFFFFFFFFu}) {
        EXPECT_EQ(Send(code, reinterpret_cast<void*>(1)), nullptr) << "code " << code;
    }
    EXPECT_EQ(ReceiveService(nullptr), nullptr);
    EXPECT_EQ(g_hostServiceProc, &SomeHost);
}

// What the host's callback saw, copied while the records were still alive.
struct SeenRequest {
    uint32_t size;
    std::string target;
    uint32_t code;
    uint32_t reserved;
    void* data;
    uint32_t textSize;
    std::string source;
    char* destination;
    int32_t destinationSize;
};

std::vector<SeenRequest> g_seen;
// What the recording host does with a text request's buffer.
enum class Answer { Translate, Ignore, FillUnterminated };
Answer g_answer = Answer::Translate;

int32_t RecordingHost(ServiceRequest* request) {
    SeenRequest seen = {request->size,
                        request->target,
                        request->code,
                        request->reserved,
                        request->data,
                        0,
                        {},
                        nullptr,
                        0};
    if (request->code == HS_ADAPT_TEXT) {
        auto* text = static_cast<TextRequest*>(request->data);
        seen.textSize = text->size;
        seen.source = text->source;
        seen.destination = text->destination;
        seen.destinationSize = text->destinationSize;
        if (g_answer == Answer::Translate) {
            std::strcpy(text->destination, "Übersetzt");
        } else if (g_answer == Answer::FillUnterminated) {
            std::memset(text->destination, 'h', static_cast<size_t>(text->destinationSize));
        }
    }
    g_seen.push_back(seen);
    return 1;
}

class AdaptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seen.clear();
        g_answer = Answer::Translate;
    }
    void TearDown() override { g_hostServiceProc = nullptr; }
    static void Connect(HostServiceProc host) {
        ServiceRequest request = {sizeof(ServiceRequest), kHostName, RS_HOST_CALLBACK, 0,
                                  reinterpret_cast<void*>(host)};
        ReceiveService(&request);
    }
};

TEST_F(AdaptTest, WithoutAHostTheSourceIsCopiedAsFarAsItFits) {
    const std::string longText(1500, 'x');
    struct Case {
        std::string source;
        int32_t size;
        std::string expected;
    } cases[] = {
        {"This email address is already in the list!", 1024,
         "This email address is already in the list!"},
        {longText, 1024, longText.substr(0, 1023)},
        {"abc", 4, "abc"},
        {"abcd", 4, "abc"},
        {"abc", 1, ""},
        {"", 16, ""},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(static_cast<size_t>(c.size) + 1, '#');
        AdaptText(c.source.c_str(), buffer.data(), c.size);
        EXPECT_EQ(std::string(buffer.data()), c.expected) << "size " << c.size;
        EXPECT_EQ(buffer[static_cast<size_t>(c.size)], '#') << "wrote past the buffer";
    }
    char buffer[8] = "#######";
    AdaptText(nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

TEST_F(AdaptTest, NoBufferMeansNoWriteAndNoRequest) {
    Connect(RecordingHost);
    char buffer[4] = {'#', '#', '#', '#'};
    for (int32_t size : {0, -1, -1024}) {
        AdaptText("text", buffer, size);
        EXPECT_EQ(std::string(buffer, 4), "####") << "size " << size;
    }
    AdaptText("text", nullptr, 1024);
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(AdaptTest, TheHostIsAskedOnceAndDecidesTheText) {
    Connect(RecordingHost);
    char buffer[1024];
    AdaptText("Do you want to delete?", buffer, sizeof buffer);
    ASSERT_EQ(g_seen.size(), 1u);
    const SeenRequest& seen = g_seen[0];
    EXPECT_EQ(seen.size, sizeof(ServiceRequest));
    EXPECT_EQ(seen.target, kHostName);
    EXPECT_EQ(seen.code, HS_ADAPT_TEXT);
    EXPECT_EQ(seen.reserved, 0u);
    EXPECT_EQ(seen.textSize, sizeof(TextRequest));
    EXPECT_EQ(seen.source, "Do you want to delete?");
    EXPECT_EQ(seen.destination, buffer);
    EXPECT_EQ(seen.destinationSize, 1024);
    EXPECT_STREQ(buffer, "Übersetzt");
}

TEST_F(AdaptTest, AHostThatIgnoresOrOverrunsLeavesATerminatedText) {
    Connect(RecordingHost);
    char buffer[32];
    std::memset(buffer, '?', sizeof buffer);
    g_answer = Answer::Ignore;
    AdaptText("Keep me", buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Keep me");

    g_answer = Answer::FillUnterminated;
    AdaptText("Keep me", buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), std::string(31, 'h'));
}

TEST_F(AdaptTest, DialogsGoToTheHostWithTheirHandle) {
    int window = 0;
    AdaptDialog(&window);
    EXPECT_TRUE(g_seen.empty()) << "no host yet";

    Connect(RecordingHost);
    AdaptDialog(&window);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].size, sizeof(ServiceRequest));
    EXPECT_EQ(g_seen[0].target, kHostName);
    EXPECT_EQ(g_seen[0].code, HS_ADAPT_DIALOG);
    EXPECT_EQ(g_seen[0].reserved, 0u);
    EXPECT_EQ(g_seen[0].data, &window);
}

TEST_F(AdaptTest, AHostThatWithdrawsItsCallbackIsNoLongerAsked) {
    Connect(RecordingHost);
    Connect(nullptr);
    int window = 0;
    AdaptDialog(&window);
    char buffer[16];
    AdaptText("As written", buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "As written");
    EXPECT_TRUE(g_seen.empty());
}

}  // namespace
