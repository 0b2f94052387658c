// A stand-in quorvel.dll for testing quorvel-host's own side: it logs what the
// host does to it into fake.log beside itself, and presses OK in its dialog and
// on the page. Its saves fail while a file "fail-save" lies beside it.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "plugin/host_api.h"
#include "plugin/records.h"
#include "ui/resource.h"

namespace {

HINSTANCE g_module;
char g_logPath[MAX_PATH];
char g_failPath[MAX_PATH];
HostServiceProc g_service;
OptionsPageInfo g_page;

void Log(const char* text) {
    if (std::FILE* log = std::fopen(g_logPath, "a")) {
        std::fprintf(log, "%s\n", text);
        std::fclose(log);
    }
}

void Release() {
    Log("release");
}

int32_t Check(uint32_t, const MailRecord*, double*) {
    return 0;
}

// The host must copy a text back, cut to the buffer, and let a dialog be.
void AskHost() {
    if (!g_service) return Log("no service callback");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    TextRequest text = {sizeof text, "Hello, host", buffer, sizeof buffer};
    ServiceRequest request = {sizeof request, kHostName, HS_ADAPT_TEXT, 0, &text};
    g_service(&request);
    char line[64];
    std::snprintf(line, sizeof line, "text '%.8s'", buffer);
    Log(line);
    ServiceRequest dialog = {sizeof dialog, kHostName, HS_ADAPT_DIALOG, 0, nullptr};
    g_service(&dialog);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM);
// OK as the real dialog's: it sends the dialog WM_SAVELIST, and ends it only
// when the save succeeded. After a failed one the user cancels.
INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SHOWWINDOW:
            // Shown, and so activated: what a user would see before pressing OK.
            if (wParam) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK) return FALSE;
            if (SendMessageA(dialog, WM_SAVELIST, 0, 0)) {
                EndDialog(dialog, 1);
            } else {
                Log("cancel");
                EndDialog(dialog, 0);
            }
            return TRUE;
    }
    return PageProc(dialog, message, wParam, lParam);
}

int32_t ShowSettings(HWND) {
    Log("settings");
    AskHost();
    return static_cast<int32_t>(
        DialogBoxParamA(g_module, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, SettingsProc, 0));
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            Log("page created");
            return TRUE;
        case WM_SHOWWINDOW:
            if (wParam) PostMessageA(GetParent(page), WM_COMMAND, IDOK, 0);
            return TRUE;
        case WM_SAVELIST: {
            const bool fail = GetFileAttributesA(g_failPath) != INVALID_FILE_ATTRIBUTES;
            Log(fail ? "save list fails" : "save list");
            SetWindowLongPtrA(page, DWLP_MSGRESULT, fail ? 0 : 1);
            return TRUE;
        }
    }
    return FALSE;
}

PluginInfoBlock g_info = {{0x00010005, 0x00000908, "Fake", "Tests", "Logs what the host does", 0,
                           Release, ShowSettings, Check},
                          {}};

}  // namespace

extern "C" PluginInfo* GetSpamCheckPluginInfo() {
    return &g_info.info;
}

extern "C" void* ReceiveService(const ServiceRequest* request) {
    char line[32];
    std::snprintf(line, sizeof line, "service %u", static_cast<unsigned>(request->code));
    Log(line);
    switch (request->code) {
        case RS_HOST_CALLBACK:
            g_service = reinterpret_cast<HostServiceProc>(request->data);
            return nullptr;
        case RS_GET_NAME:
            return const_cast<char*>("Fake plug-in");
        case RS_GET_OPTIONS_PAGE:
            g_page = {1, 36, g_module, IDD_OPTIONS_PAGE, PageProc,  "Fake page",
                      0, 0,  {},       nullptr,          "fake.htm"};
            return &g_page;
    }
    return nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        GetModuleFileNameA(module, g_logPath, MAX_PATH);
        std::strcpy(std::strrchr(g_logPath, '\\') + 1, "fake.log");
        std::strcpy(g_failPath, g_logPath);
        std::strcpy(std::strrchr(g_failPath, '\\') + 1, "fail-save");
    }
    return TRUE;
}
