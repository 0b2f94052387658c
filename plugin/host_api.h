// What the host and the plug-in share: the records and codes that cross between
// them in both directions, and the offsets at which the host reads the module's
// records. The module, the stand-in host, the tools and the tests take these
// from here; layouts are the host's, pinned for the 32-bit build in records.h.
#pragma once

#include <cstddef>
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

// The target named in every request the plug-in sends.
constexpr char kHostName[] = "Spamihilator";

// Where the host finds the name and the callbacks in PluginInfo ...
constexpr size_t kPluginInfoName = 0x08;
constexpr size_t kPluginNameSize = 80;  // the zero byte included
constexpr size_t kPluginInfoReleasePlugin = 0xFC;
constexpr size_t kPluginInfoShowSettings = 0x100;
constexpr size_t kPluginInfoCheckMail = 0x104;
// ... and the settings page in OptionsPageInfo.
constexpr size_t kOptionsPageInstance = 0x08;
constexpr size_t kOptionsPageTemplate = 0x0C;
constexpr size_t kOptionsPageDialogProc = 0x10;
constexpr size_t kOptionsPageCaption = 0x14;
constexpr size_t kOptionsPageIcon = 0x20;
constexpr size_t kOptionsPageHelpDocument = 0x24;
