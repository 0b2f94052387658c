// Turning the paths on the command line into mail files to read: files as
// given, folders walked in name order, Maildir's cur/ and new/ included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
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

// Mails are read as a stream and only their header blocks are kept, so an mbox
// of any size takes memory for one mail's headers at a time. A header block
// above this size is not read.
constexpr size_t kMaxHeaderBlock = 64u * 1024 * 1024;

// Receives each mail's header block (its empty line included when it has one)
// and its label: the path, or "PATH [N]" for the Nth mail of an mbox. headers
// is null when the block is larger than kMaxHeaderBlock.
using MailSink = std::function<void(const std::string& label, const char* headers, size_t size)>;

enum class ReadOutcome { kRead, kNotMail, kFailed };

class ProgressLine;

// Hands every mail of the file to sink, in file order. kNotMail: a file found
// in a folder that does not start like a mail; such files are passed over.
// kFailed: the reason is in failure; mails read before a read error have
// already gone to sink. Every byte read is added to bytesRead, and told to
// progress, when given, as it is read.
ReadOutcome ReadMails(const InputFile& file, const MailSink& sink, uint64_t& bytesRead,
                      std::string& failure, ProgressLine* progress = nullptr);

// Mails read, megabytes and rate, on one line of a terminal that rewrites
// itself about once a second (every intervalMs), however long the mails are;
// silent when terminal is null.
class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* terminal, int64_t intervalMs = 1000);
    ~ProgressLine();  // erases the line
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    // One more mail read; bytesSoFar counts every byte read up to now.
    void Mail(uint64_t bytesSoFar);
    // Bytes read, inside a mail or between mails.
    void Bytes(uint64_t bytesSoFar);
    // Erases the line, so that other output to the terminal starts at its
    // left edge; the next update draws it again.
    void Clear();

  private:
    void Update(uint64_t bytesSoFar);

    std::FILE* terminal_;
    int64_t intervalMs_;
    int64_t started_;
    int64_t shown_;
    uint64_t mails_ = 0;
    bool drawn_ = false;
};

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
// Whether the stream writes to a terminal rather than to a file, a pipe or a
// device such as NUL.
bool IsTerminal(std::FILE* stream);
