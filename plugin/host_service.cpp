#include "plugin/host_service.h"

#include <cstring>

HostServiceProc g_hostServiceProc = nullptr;
OptionsPageInfo* g_optionsPage = nullptr;

namespace {
// A constant of its own, so no host can write the PluginInfo name through it.
const char kPluginName[] = "Quorvel";

void SendToHost(HostServiceProc host, uint32_t code, void* data) {
    ServiceRequest request;
    std::memset(&request, 0, sizeof request);
    request.size = sizeof request;
    request.target = kHostName;
    request.code = code;
    request.data = data;
    host(&request);
}

}  // namespace

extern "C" void* ReceiveService(const ServiceRequest* request) {
    if (!request) return nullptr;
    switch (request->code) {
        case RS_HOST_CALLBACK:
            g_hostServiceProc = reinterpret_cast<HostServiceProc>(request->data);
            return nullptr;
        case RS_GET_NAME:
            return const_cast<char*>(kPluginName);
        case RS_GET_OPTIONS_PAGE:
            return g_optionsPage;
        default:
            return nullptr;
    }
}

void AdaptDialog(void* dialog) {
    if (HostServiceProc host = g_hostServiceProc) SendToHost(host, HS_ADAPT_DIALOG, dialog);
}

void AdaptText(const char* source, char* destination, int32_t destinationSize) {
    if (!destination || destinationSize <= 0) return;
    if (!source) source = "";
    // The copy goes in first, so a host that ignores the request leaves our text
    // rather than whatever was in the buffer.
    size_t length = 0;
    const auto limit = static_cast<size_t>(destinationSize) - 1;
    while (length < limit && source[length] != '\0') ++length;
    std::memcpy(destination, source, length);
    destination[length] = '\0';
    if (HostServiceProc host = g_hostServiceProc) {
        TextRequest text = {sizeof text, source, destination, destinationSize};
        SendToHost(host, HS_ADAPT_TEXT, &text);
        // The host may fill the buffer to its end without a zero byte.
        destination[limit] = '\0';
    }
}
