#include <dirent.h>
#include <sys/stat.h>

#include "tools/host/mail/mail_inputs.h"

PathKind KindOfPath(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return PathKind::kMissing;
    return S_ISDIR(info.st_mode) ? PathKind::kFolder : PathKind::kFile;
}

std::string CodePagePath(const std::string& path) {
    return path;
}

std::FILE* OpenForReading(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}

bool IdentifyFolder(const std::string& path, FolderId& id) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

// The shell has expanded them already; what is left is a name.
bool ExpandWildcards(const std::string&, std::vector<FolderEntry>&) {
    return false;
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    DIR* folder = opendir(path.c_str());
    if (!folder) return false;
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({name, KindOfPath(JoinPath(path, name)) == PathKind::kFolder});
    }
    closedir(folder);
    return true;
}
