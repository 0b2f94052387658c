#include "tools/host/mail/mail_inputs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "addresses/ascii_case.h"

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

// name[0, length) and known, ASCII letters folded.
bool NameIs(const char* name, size_t length, const char* known) {
    for (size_t i = 0; i < length; ++i, ++known) {
        if (*known == '\0' || FoldAscii(static_cast<unsigned char>(name[i])) !=
                                  FoldAscii(static_cast<unsigned char>(*known))) {
            return false;
        }
    }
    return *known == '\0';
}

// The names mail programs give the folders of spam, deleted, sent and unsent mail.
bool HoldsNoGoodMail(const char* name, size_t length) {
    static const char* const kNames[] = {
        "Junk",
        "Junk E-mail",
        "Spam",
        "Trash",
        "Deleted",
        "Deleted Items",
        "Deleted Messages",
        "Sent",
        "Sent Items",
        "Sent Messages",
        "Drafts",
        "Outbox",
        "Unsent Messages",
        "Templates",
    };
    for (const char* known : kNames) {
        if (NameIs(name, length, known)) return true;
    }
    return false;
}

// A Maildir++ folder's name without its leading dot, "Archive.Junk": one of
// its parts names such a folder, or a folder inside one.
bool MaildirPlusPlusHoldsNoGoodMail(const std::string& name) {
    for (size_t begin = 1; begin <= name.size();) {
        size_t end = name.find('.', begin);
        if (end == std::string::npos) end = name.size();
        if (HoldsNoGoodMail(name.data() + begin, end - begin)) return true;
        begin = end + 1;
    }
    return false;
}

// A Thunderbird folder's mbox file ("Junk") or the folder of its subfolders
// ("Junk.sbd"), or a plain folder.
bool EntryHoldsNoGoodMail(const FolderEntry& entry) {
    size_t length = entry.name.size();
    if (entry.isFolder && EndsWithNoCase(entry.name, ".sbd")) length -= 4;
    return HoldsNoGoodMail(entry.name.data(), length);
}

const char kNoGoodMail[] =
    "by its name a folder of spam, deleted, sent or unsent mail, left out; name it to read it";

// Whether the file at path lies in a Maildir's cur/ or new/.
bool InMaildir(const std::string& path) {
    const size_t name = path.find_last_of("\\/");
    if (name == std::string::npos || name == 0) return false;
    const size_t cut = path.find_last_of("\\/", name - 1);
    const size_t parentAt = cut == std::string::npos ? 0 : cut + 1;
    const std::string parent = path.substr(parentAt, name - parentAt);
    if (parent != "cur" && parent != "new") return false;
    const std::string maildir = path.substr(0, parentAt);
    return KindOfPath(JoinPath(maildir, "cur")) == PathKind::kFolder &&
           KindOfPath(JoinPath(maildir, "new")) == PathKind::kFolder;
}

// One walk of folders: each folder's identity is remembered, so that a link
// back into the tree, or two links to one folder, lead to no second reading.
class FolderWalk {
  public:
    FolderWalk(std::vector<InputFile>& files, std::vector<InputError>& errors, FolderChoice choice)
        : files_(files), errors_(errors), choice_(choice) {}

    // What a folder is: found by its entries, or by where the walk found it.
    enum Place { kPlain, kMaildir, kMaildirMails };

    void Folder(const std::string& path, int depth, Place place = kPlain) {
        FolderId id;
        if (IdentifyFolder(path, id) && !visited_.insert(id).second) {
            files_.push_back(
                {path, false, LeftOut::kLink, "a link to a folder already read, left out"});
            return;
        }
        std::vector<FolderEntry> entries;
        if (!ListFolder(path, entries)) {
            errors_.push_back({path, "cannot list this folder"});
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
        // A Maildir++ folder is one whether or not its new/ is there yet.
        const bool maildir = place == kMaildir || (Has(entries, "cur") && Has(entries, "new"));
        const bool goodOnly = choice_ == FolderChoice::kGoodMailOnly;
        for (const FolderEntry& entry : entries) {
            if (entry.name.empty()) continue;
            const std::string child = JoinPath(path, entry.name);
            if (entry.name[0] == '.') {
                if (maildir && entry.isFolder &&
                    KindOfPath(JoinPath(child, "cur")) == PathKind::kFolder) {
                    if (goodOnly && MaildirPlusPlusHoldsNoGoodMail(entry.name)) {
                        files_.push_back({child, false, LeftOut::kFile, kNoGoodMail});
                    } else {
                        Below(child, depth, kMaildir);
                    }
                } else {
                    files_.push_back({child, false, LeftOut::kFile});
                }
            } else if (goodOnly && EntryHoldsNoGoodMail(entry)) {
                files_.push_back({child, false, LeftOut::kFile, kNoGoodMail});
            } else if (entry.isFolder) {
                const bool mails = maildir && (entry.name == "cur" || entry.name == "new");
                if (!(maildir && entry.name == "tmp")) {
                    Below(child, depth, mails ? kMaildirMails : kPlain);
                }
            } else {
                files_.push_back(
                    {child, false,
                     EndsWithNoCase(entry.name, ".msf") ? LeftOut::kFile : LeftOut::kNone});
                files_.back().oneMail = place == kMaildirMails;
            }
        }
    }

    // An entry that a wildcard matched.
    void Entry(const std::string& path, bool isFolder) {
        const FolderEntry entry{path.substr(path.find_last_of("\\/:") + 1), isFolder};
        if (choice_ == FolderChoice::kGoodMailOnly && EntryHoldsNoGoodMail(entry)) {
            files_.push_back({path, false, LeftOut::kFile, kNoGoodMail});
        } else if (isFolder) {
            Folder(path, 0);
        } else {
            files_.push_back({path, false});
            files_.back().oneMail = InMaildir(path);
        }
    }

  private:
    void Below(const std::string& child, int depth, Place place) {
        if (depth >= kMaxDepth) {
            errors_.push_back({child, "folders nested too deep"});
        } else {
            Folder(child, depth + 1, place);
        }
    }

    std::vector<InputFile>& files_;
    std::vector<InputError>& errors_;
    const FolderChoice choice_;
    std::set<FolderId> visited_;
};

}  // namespace

void CollectInputs(const std::string& path, std::vector<InputFile>& files,
                   std::vector<InputError>& errors, FolderChoice choice) {
    FolderWalk walk(files, errors, choice);
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
            files.back().oneMail = InMaildir(path);
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
