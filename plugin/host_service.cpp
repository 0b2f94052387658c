#include "plugin/host_service.h"

HostServiceProc g_hostServiceProc = nullptr;
OptionsPageInfo* g_optionsPage = nullptr;

namespace {
// A constant of its own, so no host can write the PluginInfo name through it.
const char kPluginName[] = "Quorvel";
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
