#include "plugin/host_service.h"

#include <gtest/gtest.h>

#include <cstring>

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
        ServiceRequest request = {sizeof(ServiceRequest), "Spamihilator", code, 0, data};
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
    for (uint32_t code : {3u, 7u, 0x10000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Send(code, reinterpret_cast<void*>(1)), nullptr) << "code " << code;
    }
    EXPECT_EQ(ReceiveService(nullptr), nullptr);
    EXPECT_EQ(g_hostServiceProc, &SomeHost);
}

}  // namespace
