// Turning the paths on the command line into mail files to read: files as
// given, folders walked in name order, Maildir's cur/ and new/ included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct InputFile {
    std::string path;  // also what the user sees: the path given, joined with names below it
    bool given;        // named on the command line, so read as a mail whatever it holds
};

struct InputError {
    std::string path;
    std::string reason;
};

// Appends the files below path (or path itself) to files, in name order; what
// can't be found or listed goes to errors. Subfolders are walked too, except
// hidden ones (a leading dot) and the tmp/ of a Maildir, which holds mails that
// are still being delivered.
void CollectInputs(const std::string& path, std::vector<InputFile>& files,
                   std::vector<InputError>& errors);

// Reads a whole file into bytes; the reason it could not, or empty on success.
// Files above kMaxMailFileSize are refused rather than read.
constexpr size_t kMaxMailFileSize = 256u * 1024 * 1024;
std::string ReadMailFile(const std::string& path, std::string& bytes);

// path and name joined with the separator that path already uses.
std::string JoinPath(const std::string& path, const std::string& name);

// The platform half.
enum class PathKind { kMissing, kFile, kFolder };
PathKind KindOfPath(const std::string& path);

struct FolderEntry {
    std::string name;
    bool isFolder;
};
// The folder's entries other than . and .., in no particular order; false when
// the folder can't be listed.
bool ListFolder(const std::string& path, std::vector<FolderEntry>& entries);
