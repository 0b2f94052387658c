#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "tools/host/windows/console_text.h"

namespace {

// The console's side of the streams ConsoleText serves: the program writes
// into a pipe, and a thread shows what arrives.
struct ConsoleRelay {
    // Our own handle to the console: taking over a descriptor closes the
    // standard handle it held. Never closed, as the standard handles are set
    // back to it for what the process writes after.
    HANDLE console = nullptr;
    HANDLE pipe = nullptr;  // the reading end
    HANDLE thread = nullptr;
    bool serves[3] = {};   // by descriptor: stdin, stdout, stderr
    bool aliased = false;  // stderr writes through stdout's handle
};
ConsoleRelay g_relay;

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

bool IsUtf8(const unsigned char* text, size_t size) {
    for (size_t i = 0; i < size;) {
        const unsigned char c = text[i];
        const size_t length = c < 0x80                ? 1
                              : c >= 0xC2 && c < 0xE0 ? 2
                              : c >= 0xE0 && c < 0xF0 ? 3
                              : c >= 0xF0 && c < 0xF5 ? 4
                                                      : 0;
        if (length == 0 || length > size - i) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// How many bytes at the end begin a UTF-8 sequence whose rest has not come yet.
size_t IncompleteTail(const unsigned char* text, size_t size) {
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        const unsigned char c = text[size - back];
        if ((c & 0xC0) == 0x80) continue;
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

void Show(const char* text, size_t size) {
    wchar_t wide[4096];
    while (size > 0) {
        const void* lf = std::memchr(text, '\n', size);
        size_t piece = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : size;
        if (piece > sizeof wide / sizeof wide[0]) piece = sizeof wide / sizeof wide[0];
        const bool utf8 = IsUtf8(reinterpret_cast<const unsigned char*>(text), piece);
        const int length =
            MultiByteToWideChar(utf8 ? CP_UTF8 : GetConsoleOutputCP(), 0, text,
                                static_cast<int>(piece), wide, sizeof wide / sizeof wide[0]);
        DWORD written;
        if (length > 0)
            WriteConsoleW(g_relay.console, wide, static_cast<DWORD>(length), &written, nullptr);
        text += piece;
        size -= piece;
    }
}

// A thread of the C runtime's, as it calls the runtime.
unsigned __stdcall RelayToConsole(void*) {
    char bytes[4096 + 4];
    size_t kept = 0;
    for (;;) {
        DWORD got = 0;
        const bool more =
            ReadFile(g_relay.pipe, bytes + kept, sizeof bytes - 4, &got, nullptr) && got > 0;
        const size_t size = kept + got;
        kept = more ? IncompleteTail(reinterpret_cast<unsigned char*>(bytes), size) : 0;
        Show(bytes, size - kept);
        std::memmove(bytes, bytes + size - kept, kept);
        if (!more) return 0;
    }
}

}  // namespace

ConsoleText::ConsoleText() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    const bool outConsole = IsConsole(out);
    const bool errConsole = IsConsole(err);
    if (!outConsole && !errConsole) return;
    HANDLE writing;
    if (!DuplicateHandle(GetCurrentProcess(), outConsole ? out : err, GetCurrentProcess(),
                         &g_relay.console, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return;
    }
    if (!CreatePipe(&g_relay.pipe, &writing, nullptr, 0)) {
        CloseHandle(g_relay.console);
        g_relay = ConsoleRelay();
        return;
    }
    g_relay.thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RelayToConsole, nullptr, 0, nullptr));
    const int fd = g_relay.thread ? _open_osfhandle(reinterpret_cast<intptr_t>(writing), 0) : -1;
    if (fd < 0) {
        CloseHandle(writing);
        if (g_relay.thread) {
            WaitForSingleObject(g_relay.thread, INFINITE);
            CloseHandle(g_relay.thread);
        }
        CloseHandle(g_relay.pipe);
        CloseHandle(g_relay.console);
        g_relay = ConsoleRelay();
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // Both into one pipe when both are the console, so that they stay in the
    // order they were written; one that goes elsewhere is left alone.
    for (const int served : {1, 2}) {
        if (!(served == 1 ? outConsole : errConsole)) continue;
        // Taking over stdout closed its handle; when stderr held the same one
        // and the pipe's new handle took its number, stderr already writes
        // into the pipe, and taking it over would close that handle.
        if (served == 2 && err == out && g_relay.serves[1] &&
            _get_osfhandle(1) == reinterpret_cast<intptr_t>(err)) {
            g_relay.serves[2] = g_relay.aliased = true;
            continue;
        }
        if (_dup2(fd, served) == 0) {
            g_relay.serves[served] = true;
            SetStdHandle(served == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE,
                         reinterpret_cast<HANDLE>(_get_osfhandle(served)));
        }
    }
    _close(fd);
}

ConsoleText::~ConsoleText() {
    if (!g_relay.thread) return;
    std::fflush(stdout);
    std::fflush(stderr);
    // The relay ends when the last writing end is closed.
    for (const int served : {1, 2}) {
        if (!g_relay.serves[served]) continue;
        SetStdHandle(served == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, g_relay.console);
        if (served == 1 || !g_relay.aliased) _close(served);
        g_relay.serves[served] = false;
    }
    WaitForSingleObject(g_relay.thread, INFINITE);
    CloseHandle(g_relay.thread);
    CloseHandle(g_relay.pipe);
    g_relay.thread = nullptr;
    g_relay.pipe = nullptr;
}

// A console, not merely a character device: NUL is one too, and output sent
// there is redirected like output to a file.
bool IsTerminal(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd >= 0 && fd < 3 && g_relay.serves[fd]) return true;
    const intptr_t handle = _get_osfhandle(fd);
    return handle != -1 && IsConsole(reinterpret_cast<HANDLE>(handle));
}
