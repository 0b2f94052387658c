// A module (the real quorvel.dll, or a test build of it) copied into a folder
// with the files the test chooses, and loaded there as the host loads it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "check/mail_check.h"
#include "plugin/host_api.h"
#include "tests/support/mail.h"
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

// Where the host reads the members of the requests the plug-in sends it.
constexpr size_t kRequestSize = offsetof(ServiceRequest, size);
constexpr size_t kRequestTarget = offsetof(ServiceRequest, target);
constexpr size_t kRequestCode = offsetof(ServiceRequest, code);
constexpr size_t kRequestData = offsetof(ServiceRequest, data);
constexpr size_t kTextSize = offsetof(TextRequest, size);
constexpr size_t kTextSource = offsetof(TextRequest, source);
constexpr size_t kTextDestination = offsetof(TextRequest, destination);
constexpr size_t kTextDestinationSize = offsetof(TextRequest, destinationSize);

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
    using ShowSettingsFn = int32_t(__cdecl*)(HWND parent);
    using CheckMailFn = int32_t(__cdecl*)(uint32_t, const MailRecord* mail, double* result);
    using ReleaseFn = void(__cdecl*)();

    // The real module in a fresh folder of its own, with, when given, the list
    // file's bytes and the icon.
    explicit LoadedPlugin(const char* listBytes = nullptr, bool withIcon = false)
        : own_(std::make_unique<TempFolder>()) {
        if (withIcon) {
            std::filesystem::copy_file(
                std::filesystem::path(QUORVEL_SOURCE) / "plugin" / "quorvel.ico",
                own_->path() / "quorvel.ico");
        }
        const std::string bytes = listBytes ? listBytes : "";
        Load(own_->path(), listBytes ? &bytes : nullptr, BuildFolder() / "quorvel.dll",
             "quorvel.dll");
    }
    // The module as name in a folder of the test's choosing, beside a list file
    // of exactly the given bytes; with no bytes, no list file is written.
    LoadedPlugin(const std::filesystem::path& folder, const std::string* listBytes,
                 const std::filesystem::path& module = BuildFolder() / "quorvel.dll",
                 const char* name = "quorvel.dll") {
        Load(folder, listBytes, module, name);
    }
    ~LoadedPlugin() {
        if (module_) FreeLibrary(module_);
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    HMODULE module() const { return module_; }
    const std::string& path() const { return path_; }
    // The folder made for the module by the first constructor.
    const TempFolder& folder() const { return *own_; }

    template <typename Fn>
    Fn Export(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    const unsigned char* Info() const {
        return static_cast<const unsigned char*>(Export<GetInfoFn>("GetSpamCheckPluginInfo")());
    }
    // A request in the host's layout: size, target, code, reserved, data.
    void* Service(uint32_t code, void* data = nullptr) const {
        uint32_t request[5] = {20, 0, code, 0,
                               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))};
        return Export<ReceiveServiceFn>("ReceiveService")(request);
    }
    // The callbacks, called through PluginInfo as the host calls them.
    int32_t ShowSettings(HWND parent = nullptr) const {
        return Callback<ShowSettingsFn>(kPluginInfoShowSettings)(parent);
    }
    int32_t Check(const MailRecord* mail, double* result) const {
        return Callback<CheckMailFn>(kPluginInfoCheckMail)(0, mail, result);
    }
    // The verdict on the mail; checks the result value that goes with it.
    int32_t Check(const Mail& mail) const {
        double result = 0.5;
        const int32_t verdict = Check(mail.record(), &result);
        EXPECT_EQ(result, verdict == -1 ? 1.0 : 0.5) << "result value for verdict " << verdict;
        return verdict;
    }
    int32_t CheckTo(const char* value) const { return Check(Mail{{"To", value}}); }
    void Release() const { Callback<ReleaseFn>(kPluginInfoReleasePlugin)(); }

  private:
    void Load(const std::filesystem::path& folder, const std::string* listBytes,
              const std::filesystem::path& module, const char* name) {
        path_ = (folder / name).string();
        std::filesystem::copy_file(module, path_);
        if (listBytes) std::ofstream(folder / "quorvel.txt", std::ios::binary) << *listBytes;
        module_ = LoadLibraryA(path_.c_str());
        EXPECT_NE(module_, nullptr) << "LoadLibraryA failed with " << GetLastError();
    }
    template <typename Fn>
    Fn Callback(size_t offset) const {
        return reinterpret_cast<Fn>(const_cast<void*>(PointerAt(Info(), offset)));
    }

    std::unique_ptr<TempFolder> own_;
    std::string path_;
    HMODULE module_ = nullptr;
};
