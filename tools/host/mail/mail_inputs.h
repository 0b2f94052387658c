// Turning the paths on the command line into mail files to read: files as
// given, folders walked in name order, whole mail stores included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// Why a file is counted without being read: not mail (or a folder not read),
// or a link to a folder already read.
enum class LeftOut { kNone, kFile, kLink };

struct InputFile {
    InputFile(std::string where, bool named, LeftOut skip = LeftOut::kNone, std::string why = "")
        : path(std::move(where)), given(named), leftOut(skip), note(std::move(why)) {}
    std::string path;  // also what the user sees: the path given, joined with names below it
    bool given;        // named on the command line, so read as a mail whatever it holds
    LeftOut leftOut;   // when not kNone, counted as left out without being read
    std::string note;  // when set, why it was left out
    // In a Maildir's cur/ or new/, where each file is one mail: a "From " line
    // at its start is its envelope, not an mbox separator.
    bool oneMail = false;
};

struct InputError {
    std::string path;
    std::string reason;
};

// Which folders of a walk are read: every one, or only those that may hold
// good mail, leaving out by their usual names the folders of spam, deleted,
// sent and unsent mail (Junk, Spam, Trash, Sent, Drafts, Outbox, Templates and
// the like, in any case).
enum class FolderChoice { kEvery, kGoodMailOnly };

// Appends the files below path (or path itself) to files, in name order; what
// can't be found or listed goes to errors. Subfolders are walked too, each one
// once however many links lead to it (a link to a folder already walked is left
// out with a note). Inside a Maildir (a folder holding cur/ and new/), its
// tmp/, which holds mails still being delivered, is skipped, and its dot-folders
// that hold cur/ are walked (Maildir++: .Sent, .Archive.2023); the files of its
// cur/ and new/ are marked oneMail, also when named on the command line. Other
// hidden entries (a leading dot) and mbox index files (.msf, beside the mbox
// files of a Thunderbird profile) are left out. With kGoodMailOnly, a folder
// below path whose name says it holds no good mail is left out with a note: a
// Thunderbird mbox file ("Junk") or its ".sbd" folder, a Maildir++ folder with
// such a name anywhere in it (".Junk", ".Archive.Spam", ".Trash.2023"), or a
// plain folder; path itself is read whatever its name. On Windows, * and ? in
// the last part of path are expanded as Windows programs do; what they match
// is read like the entries of a folder.
void CollectInputs(const std::string& path, std::vector<InputFile>& files,
                   std::vector<InputError>& errors, FolderChoice choice = FolderChoice::kEvery);

// path and name joined with the separator that path already uses.
std::string JoinPath(const std::string& path, const std::string& name);

struct FolderEntry {
    std::string name;
    bool isFolder;
};

// The platform half. Paths are UTF-8.
enum class PathKind { kMissing, kFile, kFolder };
PathKind KindOfPath(const std::string& path);
std::FILE* OpenForReading(const std::string& path);  // binary; caller closes
// What tells one folder from another however it is reached: device and inode,
// or the volume's serial number and the file index.
struct FolderId {
    uint64_t volume;
    uint64_t index;
    bool operator<(const FolderId& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};
bool IdentifyFolder(const std::string& path, FolderId& id);
// The entries that a pattern with * or ? in its last part matches, as names in
// that folder; false where the platform's programs leave wildcards to the shell.
bool ExpandWildcards(const std::string& pattern, std::vector<FolderEntry>& matches);

// The folder's entries other than . and .., in no particular order; false when
// the folder can't be listed.
bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries);

// The path as the system's 8-bit file functions take it, which the plug-in's
// own file layer calls: on Windows in the ANSI code page, empty when that has
// no exact form for it; elsewhere the path itself.
std::string CodePagePath(const std::string& path);

#ifdef _WIN32
// Where paths meet the wide-character functions.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text);
// Text in the ANSI code page, as the plug-in and the 8-bit functions give it.
std::string Utf8FromCodePage(const std::string& text);
#endif
