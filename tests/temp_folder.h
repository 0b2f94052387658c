// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

class TempFolder {
  public:
    TempFolder() {
        const auto base = std::filesystem::temp_directory_path();
        for (unsigned n = 0;; ++n) {
            path_ = base / ("quorvel-test-" + std::to_string(std::random_device{}()) + "-" +
                            std::to_string(n));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const char* name) const { return (path_ / name).string(); }

    void Write(const char* name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
    }
    std::string Read(const char* name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Names of everything in the folder, sorted.
    std::string Listing() const {
        std::set<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(path_)) {
            names.insert(item.path().filename().string());
        }
        std::string joined;
        for (const auto& name : names) joined += (joined.empty() ? "" : " ") + name;
        return joined;
    }

  private:
    std::filesystem::path path_;
};
