// The real quorvel.dll, copied with chosen files into a fresh folder and loaded
// there as the host loads it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/temp_folder.h"

// The host's view of the records: raw bytes at documented offsets.
inline uint32_t U32At(const void* base, size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const char*>(base) + offset, 4);
    return value;
}
inline const void* PointerAt(const void* base, size_t offset) {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(U32At(base, offset)));
}

// The folder of the running test program, where the build puts quorvel.dll.
inline std::filesystem::path BuildFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

class LoadedPlugin {
  public:
    using GetInfoFn = void*(__cdecl*)();
    using ReceiveServiceFn = void*(__cdecl*)(void* request);
    using CheckMailFn = int32_t(__cdecl*)(uint32_t, void* mail, double* result);
    using ReleaseFn = void(__cdecl*)();

    // Copies the module and, when given, the list file's bytes and the icon.
    explicit LoadedPlugin(const char* listBytes = nullptr, bool withIcon = false) {
        std::filesystem::copy_file(BuildFolder() / "quorvel.dll", folder.path() / "quorvel.dll");
        if (withIcon) {
            std::filesystem::copy_file(
                std::filesystem::path(QUORVEL_SOURCE) / "plugin" / "quorvel.ico",
                folder.path() / "quorvel.ico");
        }
        if (listBytes) folder.Write("quorvel.txt", listBytes);
        module = LoadLibraryA(folder.File("quorvel.dll").c_str());
        EXPECT_NE(module, nullptr) << "LoadLibraryA failed with " << GetLastError();
    }
    ~LoadedPlugin() {
        if (module) FreeLibrary(module);
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    template <typename Fn>
    Fn Export(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    const unsigned char* Info() const {
        return static_cast<const unsigned char*>(Export<GetInfoFn>("GetSpamCheckPluginInfo")());
    }
    void* Service(uint32_t code, void* data = nullptr) const {
        // size, target, code, reserved, data
        uint32_t request[5] = {20, 0, code, 0,
                               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))};
        return Export<ReceiveServiceFn>("ReceiveService")(request);
    }
    int32_t Check(void* mail, double* result) const {
        return reinterpret_cast<CheckMailFn>(const_cast<void*>(PointerAt(Info(), 0x104)))(0, mail,
                                                                                          result);
    }
    void Release() const {
        reinterpret_cast<ReleaseFn>(const_cast<void*>(PointerAt(Info(), 0xFC)))();
    }

    TempFolder folder;
    HMODULE module = nullptr;
};

// A mail in the host's layout: HeaderField is name, value, unused, next (16 bytes).
class HostMail {
  public:
    HostMail(const char* name, const char* value) { Add(name, value); }
    HostMail& Add(const char* name, const char* value) {
        uint32_t* field = fields_[count_++];
        field[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name));
        field[1] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
        field[2] = 0;
        field[3] = 0;
        if (count_ > 1)
            fields_[count_ - 2][3] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(field));
        record_[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(fields_[0]));
        return *this;
    }
    void* record() { return record_; }

  private:
    uint32_t fields_[8][4] = {};
    int count_ = 0;
    uint32_t record_[4] = {};
};
