// The pace of the disk as a Windows program sees it, and quorvel-host's against it.
// Run under Wine by `make bench`.
//
//   quorvel_read_floor read FILE        reads FILE in 1 MiB pieces, finding its lines
//   quorvel_read_floor time OUT COMMAND runs COMMAND (a whole command line) with its
//                                       output to the file OUT; prints its seconds
//                                       and peak working set as "seconds mib"
//
// Every figure of a run goes through "time", the floor included, so that each
// pays the same process start. The peak working set is the one Windows keeps for
// the process (under Wine the peak resident memory of its Unix process).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Read(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    static char chunk[1024 * 1024];
    unsigned long long bytes = 0, lines = 0;
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes += got;
        for (const char* at = chunk;
             (at = static_cast<const char*>(std::memchr(at, '\n', chunk + got - at))) != nullptr;
             ++at) {
            ++lines;
        }
    }
    std::fclose(file);
    std::printf("%llu bytes, %llu lines\n", bytes, lines);
    return 0;
}

int Time(const char* outPath, const char* command) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileA(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot write %s\n", outPath);
        return 1;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = command;
    PROCESS_INFORMATION process;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot run %s\n", command);
        CloseHandle(out);
        return 1;
    }
    // The peak is asked while the process runs: once it has ended, Wine may
    // no longer know it. It only grows, so the last answer is the peak but for
    // the last few milliseconds.
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) &&
            memory.PeakWorkingSetSize > peak) {
            peak = memory.PeakWorkingSetSize;
        }
    }
    QueryPerformanceCounter(&end);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(out);
    std::printf("%.3f %.1f\n",
                static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart),
                static_cast<double>(peak) / 1048576.0);
    return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "time") == 0) return Time(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: quorvel_read_floor read FILE\n"
                 "       quorvel_read_floor time OUT COMMAND\n");
    return 2;
}
