// A copy of a module (the real quorvel.dll, or a test build of it) in a folder
// of the test's choosing, beside a list file of exactly the given bytes, loaded
// as the host loads it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/plugin/loaded_plugin.h"

class ModuleCopy {
  public:
    // With no list bytes, no list file is written.
    ModuleCopy(const std::filesystem::path& folder, const std::string* listBytes,
               const std::filesystem::path& module = BuildFolder() / "quorvel.dll",
               const char* name = "quorvel.dll")
        : path_((folder / name).string()) {
        std::filesystem::copy_file(module, path_);
        if (listBytes) std::ofstream(folder / "quorvel.txt", std::ios::binary) << *listBytes;
        module_ = LoadLibraryA(path_.c_str());
        EXPECT_NE(module_, nullptr) << "LoadLibraryA failed with " << GetLastError();
    }
    ~ModuleCopy() {
        if (module_) FreeLibrary(module_);
    }
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;

    HMODULE module() const { return module_; }
    const std::string& path() const { return path_; }

    template <typename Fn>
    Fn Export(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    const unsigned char* Info() const {
        return static_cast<const unsigned char*>(
            Export<LoadedPlugin::GetInfoFn>("GetSpamCheckPluginInfo")());
    }
    void* Service(uint32_t code, void* data = nullptr) const {
        uint32_t request[5] = {20, 0, code, 0,
                               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))};
        return Export<LoadedPlugin::ReceiveServiceFn>("ReceiveService")(request);
    }
    // CheckMail through the record, as the host calls it; checks the result value.
    int32_t Check(void* mail) const {
        double result = 0.5;
        const auto check = reinterpret_cast<LoadedPlugin::CheckMailFn>(
            const_cast<void*>(PointerAt(Info(), 0x104)));
        const int32_t verdict = check(0, mail, &result);
        EXPECT_EQ(result, verdict == -1 ? 1.0 : 0.5) << "result value for verdict " << verdict;
        return verdict;
    }
    int32_t CheckTo(const char* value) const {
        HostMail mail("To", value);
        return Check(mail.record());
    }
    void Release() const {
        reinterpret_cast<LoadedPlugin::ReleaseFn>(const_cast<void*>(PointerAt(Info(), 0xFC)))();
    }

  private:
    std::string path_;
    HMODULE module_ = nullptr;
};
