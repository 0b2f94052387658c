#include "tools/host/mail/mail_inputs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

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

bool EndsWithNoCase(const std::string& name, const char* ending) {
    const size_t length = std::strlen(ending);
    if (name.size() < length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[name.size() - length + i])) != ending[i])
            return false;
    }
    return true;
}

// One walk of folders: each folder's identity is remembered, so that a link
// back into the tree, or two links to one folder, lead to no second reading.
class FolderWalk {
  public:
    FolderWalk(std::vector<InputFile>& files, std::vector<InputError>& errors)
        : files_(files), errors_(errors) {}

    void Folder(const std::string& path, int depth) {
        FolderId id;
        if (IdentifyFolder(path, id) && !visited_.insert(id).second) {
            files_.push_back({path, false, true, "a link to a folder already read, left out"});
            return;
        }
        std::vector<FolderEntry> entries;
        if (!ListFolder(path, entries)) {
            errors_.push_back({path, "cannot list this folder"});
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
        const bool maildir = Has(entries, "cur") && Has(entries, "new");
        for (const FolderEntry& entry : entries) {
            if (entry.name.empty()) continue;
            const std::string child = JoinPath(path, entry.name);
            if (entry.name[0] == '.') {
                if (maildir && entry.isFolder &&
                    KindOfPath(JoinPath(child, "cur")) == PathKind::kFolder) {
                    Below(child, depth);
                } else {
                    files_.push_back({child, false, true, ""});
                }
            } else if (entry.isFolder) {
                if (!(maildir && entry.name == "tmp")) Below(child, depth);
            } else {
                files_.push_back({child, false, EndsWithNoCase(entry.name, ".msf"), ""});
            }
        }
    }

    void Entry(const std::string& path, bool isFolder) {
        if (isFolder) {
            Folder(path, 0);
        } else {
            files_.push_back({path, false});
        }
    }

  private:
    void Below(const std::string& child, int depth) {
        if (depth >= kMaxDepth) {
            errors_.push_back({child, "folders nested too deep"});
        } else {
            Folder(child, depth + 1);
        }
    }

    std::vector<InputFile>& files_;
    std::vector<InputError>& errors_;
    std::set<FolderId> visited_;
};

}  // namespace

void CollectInputs(const std::string& path, std::vector<InputFile>& files,
                   std::vector<InputError>& errors) {
    FolderWalk walk(files, errors);
    std::vector<FolderEntry> matches;
    if (ExpandWildcards(path, matches)) {
        if (matches.empty()) errors.push_back({path, "no such file or folder"});
        std::sort(matches.begin(), matches.end(),
                  [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
        // The folder part stays as typed, "C:" and all.
        const size_t cut = path.find_last_of("\\/:");
        const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut + 1);
        for (const FolderEntry& match : matches) walk.Entry(folder + match.name, match.isFolder);
        return;
    }
    switch (KindOfPath(path)) {
        case PathKind::kMissing:
            errors.push_back({path, "no such file or folder"});
            break;
        case PathKind::kFile:
            files.push_back({path, true});
            break;
        case PathKind::kFolder:
            walk.Folder(path, 0);
            break;
    }
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
