#include "tools/host/mail_inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
#else
constexpr char kNativeSeparator = '/';
#endif

// Deep enough for any real mail store; stops a link that loops back.
constexpr int kMaxDepth = 32;

bool Has(const std::vector<FolderEntry>& entries, const char* name) {
    return std::any_of(entries.begin(), entries.end(), [name](const FolderEntry& entry) {
        return entry.isFolder && entry.name == name;
    });
}

void CollectFolder(const std::string& path, int depth, std::vector<InputFile>& files,
                   std::vector<InputError>& errors) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(path, entries)) {
        errors.push_back({path, "cannot list this folder"});
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    const bool maildir = Has(entries, "cur") && Has(entries, "new");
    for (const FolderEntry& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;
        const std::string child = JoinPath(path, entry.name);
        if (!entry.isFolder) {
            files.push_back({child, false});
        } else if (!(maildir && entry.name == "tmp")) {
            if (depth >= kMaxDepth) {
                errors.push_back({child, "folders nested too deep"});
            } else {
                CollectFolder(child, depth + 1, files, errors);
            }
        }
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void CollectInputs(const std::string& path, std::vector<InputFile>& files,
                   std::vector<InputError>& errors) {
    switch (KindOfPath(path)) {
        case PathKind::kMissing:
            errors.push_back({path, "no such file or folder"});
            break;
        case PathKind::kFile:
            files.push_back({path, true});
            break;
        case PathKind::kFolder:
            CollectFolder(path, 0, files, errors);
            break;
    }
}

std::string ReadMailFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::string("cannot open: ") + std::strerror(errno);
    char chunk[64 * 1024];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        if (got > kMaxMailFileSize - bytes.size()) {
            bytes.clear();
            return "larger than 256 MiB, not read";
        }
        bytes.append(chunk, got);
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) {
        bytes.clear();
        return "read error";
    }
    return {};
}

std::string JoinPath(const std::string& path, const std::string& name) {
    if (path.empty()) return name;
    const char last = path.back();
    if (last == '/' || last == '\\') return path + name;
    char separator = kNativeSeparator;
    if (path.find('/') != std::string::npos && path.find('\\') == std::string::npos)
        separator = '/';
    if (path.find('\\') != std::string::npos && path.find('/') == std::string::npos) {
        separator = '\\';
    }
    return path + separator + name;
}
