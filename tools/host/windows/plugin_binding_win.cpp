#include "tools/host/windows/plugin_binding_win.h"

#include <cstring>

#include "plugin/host_api.h"
#include "tools/host/mail/mail_inputs.h"

namespace {

// This host changes no dialog and translates no text: a text comes back as it
// went in, cut to fit the caller's buffer.
int32_t HostService(ServiceRequest* request) {
    if (!request || request->size < sizeof(ServiceRequest)) return 0;
    if (request->code == HS_ADAPT_DIALOG) return 1;
    if (request->code != HS_ADAPT_TEXT) return 0;
    auto* text = static_cast<TextRequest*>(request->data);
    if (!text || text->size < sizeof(TextRequest) || !text->destination ||
        text->destinationSize <= 0) {
        return 0;
    }
    const size_t room = static_cast<size_t>(text->destinationSize) - 1;
    const size_t length = text->source ? strnlen(text->source, room) : 0;
    // The source may lie inside the destination: move, not copy.
    memmove(text->destination, text->source ? text->source : "", length);
    text->destination[length] = '\0';
    return 1;
}

void* Send(void* (*receiveService)(ServiceRequest*), uint32_t code, void* data) {
    ServiceRequest request = {sizeof request, kHostName, code, 0, data};
    return receiveService(&request);
}

std::string FullPath(const std::string& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(WideFromUtf8(path).c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? Utf8FromWide(full) : path;
}

}  // namespace

std::string ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string folder = Utf8FromWide(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool LoadPlugin(const std::string& folder, Plugin& plugin, std::string& error) {
    std::string path = folder.empty() ? ProgramFolder() : FullPath(folder);
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += "quorvel.dll";
    plugin.path = path;
    // As the host loads it: the module names its list's folder by what it was loaded by.
    plugin.codePagePath = CodePagePath(path);
    if (plugin.codePagePath.empty()) {
        error = "cannot load " + path +
                ": its folder's name holds letters the system's code page has no form for";
        return false;
    }
    plugin.module = LoadLibraryA(plugin.codePagePath.c_str());
    if (!plugin.module) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    using GetInfoFn = unsigned char* (*)();
    using ReceiveServiceFn = void* (*)(ServiceRequest*);
    const auto getInfo = reinterpret_cast<GetInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, "GetSpamCheckPluginInfo")));
    const auto receiveService = reinterpret_cast<ReceiveServiceFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, "ReceiveService")));
    const unsigned char* info = getInfo ? getInfo() : nullptr;
    if (!info || !receiveService) {
        error = path + " is not a spam-check plug-in";
        UnloadPlugin(plugin);
        return false;
    }
    plugin.release = PointerAt<void (*)()>(info, kPluginInfoReleasePlugin);
    plugin.showSettings = PointerAt<int32_t (*)(HWND)>(info, kPluginInfoShowSettings);
    plugin.checkMail = PointerAt<CheckMailFn>(info, kPluginInfoCheckMail);
    if (!plugin.checkMail) {
        error = path + " has no mail check";
        UnloadPlugin(plugin);
        return false;
    }

    Send(receiveService, RS_HOST_CALLBACK, reinterpret_cast<void*>(HostService));
    const auto* name = static_cast<const char*>(Send(receiveService, RS_GET_NAME, nullptr));
    if (!name) name = reinterpret_cast<const char*>(info + kPluginInfoName);
    plugin.name.assign(name, strnlen(name, kPluginNameSize));
    plugin.page =
        static_cast<const unsigned char*>(Send(receiveService, RS_GET_OPTIONS_PAGE, nullptr));
    return true;
}

void UnloadPlugin(Plugin& plugin) {
    if (plugin.release) plugin.release();
    if (plugin.module) FreeLibrary(plugin.module);
    plugin = Plugin();
}

std::string PluginFolder(const Plugin& plugin) {
    return plugin.path.substr(0, plugin.path.find_last_of("\\/") + 1);
}
