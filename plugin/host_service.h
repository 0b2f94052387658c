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

// The text request's record: the host writes its text for source into destination.
struct TextRequest {
    uint32_t size;  // 16
    const char* source;
    char* destination;
    int32_t destinationSize;  // in bytes, the zero byte included
};

// ReceiveService codes, host to plug-in.
constexpr uint32_t RS_HOST_CALLBACK = 0;
constexpr uint32_t RS_GET_NAME = 1;
constexpr uint32_t RS_GET_OPTIONS_PAGE = 2;

// Requests the plug-in sends to the host.
constexpr uint32_t HS_ADAPT_DIALOG = 0x10000000;
constexpr uint32_t HS_ADAPT_TEXT = 0x10000002;

struct OptionsPageInfo;

// Null until the host hands its callback over (or after it hands over null).
extern HostServiceProc g_hostServiceProc;
// Built once at start-up and never freed: the host may hold it as long as it runs.
extern OptionsPageInfo* g_optionsPage;

extern "C" void* ReceiveService(const ServiceRequest* request);

// Hands a dialog that is initialising to the host, which may translate it.
void AdaptDialog(void* dialog);
// Leaves in destination the text to show for source: the host's when it answers,
// otherwise as much of source as fits. Always zero-terminated when
// destinationSize is at least 1; a null or empty destination is left alone.
void AdaptText(const char* source, char* destination, int32_t destinationSize);
