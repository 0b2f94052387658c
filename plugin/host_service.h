// Records and calls that cross between the host and the plug-in in both
// directions. Layouts are the host's; the 32-bit build checks them in records.h.
#pragma once

#include <cstdint>

struct ServiceRequest {
    uint32_t size;       // sizeof(ServiceRequest) on the host's side: 20
    const char* target;  // "Spamihilator" on requests the plug-in sends
    uint32_t code;
    uint32_t reserved;
    void* data;
};

// The host's callback; its result is never looked at.
using HostServiceProc = int32_t (*)(ServiceRequest* request);

// ReceiveService codes, host to plug-in.
constexpr uint32_t RS_HOST_CALLBACK = 0;
constexpr uint32_t RS_GET_NAME = 1;
constexpr uint32_t RS_GET_OPTIONS_PAGE = 2;

struct OptionsPageInfo;

// Null until the host hands its callback over (or after it hands over null).
extern HostServiceProc g_hostServiceProc;
// Built once at start-up and never freed: the host may hold it as long as it runs.
extern OptionsPageInfo* g_optionsPage;

extern "C" void* ReceiveService(const ServiceRequest* request);
