#include "tools/host/mail_inputs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "tools/host/mail_parser.h"

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

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr size_t kChunkSize = 1024 * 1024;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Cuts a stream of bytes into mails and keeps only each one's header block. A
// line is looked at when its line feed arrives, so a line may span any number
// of chunks; of a body line only its first five bytes are kept, enough to tell
// an mbox separator, and those only when it spans chunks.
class MailSplitter {
  public:
    MailSplitter(const std::string& path, bool mbox, const MailSink& sink)
        : path_(path), mbox_(mbox), sink_(sink), state_(mbox ? kOutside : kHeaders) {}

    void Feed(const char* data, size_t size) {
        const char* const end = data + size;
        // The header block being read while it lies whole in this chunk, from
        // block on: handed over from the chunk, and copied into headers_ only
        // when the chunk ends inside it. Most mails never need the copy.
        const char* block = nullptr;
        static_assert(kChunkSize <= kMaxHeaderBlock, "a block in one chunk is never too large");
        while (data < end) {
            if (!block && state_ != kHeaders && !partial_) {
                // Outside the headers only separators count: in a single mail
                // nothing does, in an mbox the lines that may be one.
                if (!mbox_) return;
                const char* const line = NextPossibleSeparator(data, end);
                size -= static_cast<size_t>(line - data);
                data = line;
                if (data == end) break;
            }
            const char* lf = FindByte(data, static_cast<size_t>(end - data), '\n');
            const size_t take = lf ? static_cast<size_t>(lf - data) + 1 : size;
            const char* const next = data + take;
            if (state_ == kHeaders && headers_.empty() && !block) block = data;
            if (block && lf) {
                HeaderLineInChunk(block, data, take);
            } else if (!block && state_ != kHeaders && !partial_ && lf) {
                // A body line whole in the chunk: only its first bytes count.
                if (mbox_ && IsSeparator(data, take)) StartMail();
            } else {
                if (block) {
                    // The chunk ends inside this header line.
                    headers_.assign(block, static_cast<size_t>(data - block));
                    lineStart_ = headers_.size();
                    block = nullptr;
                }
                FeedLine(data, take, lf != nullptr);
            }
            data = next;
            size -= take;
        }
        if (block) {
            headers_.assign(block, static_cast<size_t>(end - block));
            lineStart_ = headers_.size();
        }
    }

    void Finish() {
        if (partial_) EndLine();
        if (state_ == kHeaders) Emit();
    }

    // A single mail whose headers have gone to the sink: the rest is body, which
    // nothing reads.
    bool Done() const { return !mbox_ && state_ == kBody; }

  private:
    enum State { kOutside, kHeaders, kBody };

    // A whole line of a header block that started in this chunk at block.
    void HeaderLineInChunk(const char*& block, const char* line, size_t size) {
        if (mbox_ && IsSeparator(line, size)) {
            sink_(Label(), block, static_cast<size_t>(line - block));
            StartMail();
            block = nullptr;
            return;
        }
        size_t length = size - 1;  // without its line feed
        if (length > 0 && line[length - 1] == '\r') --length;
        if (!IsHeaderBlockLine(line, length)) {
            // The empty line, kept with the block, or the first body line of a
            // mail that lacks it, which is not.
            const char* const blockEnd = length == 0 ? line + size : line;
            sink_(Label(), block, static_cast<size_t>(blockEnd - block));
            state_ = kBody;
            headLength_ = 0;
            block = nullptr;
        }
    }

    // A line or the part of it in this chunk, copied where its mail needs it.
    void FeedLine(const char* data, size_t take, bool lf) {
        if (state_ == kHeaders) {
            if (take > kMaxHeaderBlock - headers_.size()) {
                TooLarge();
            } else {
                headers_.append(data, take);
            }
        }
        if (state_ != kHeaders) {
            const size_t room = sizeof head_ - headLength_;
            const size_t copy = take < room ? take : room;
            std::memcpy(head_ + headLength_, data, copy);
            headLength_ += copy;
        }
        partial_ = true;
        if (lf) EndLine();
    }

    // Byte by byte: a call to the C runtime's memcmp for every line costs more.
    static bool IsSeparator(const char* line, size_t size) {
        return size >= 5 && line[0] == 'F' && line[1] == 'r' && line[2] == 'o' && line[3] == 'm' &&
               line[4] == ' ';
    }

    void EndLine() {
        partial_ = false;
        if (state_ != kHeaders) {
            const bool separator = IsSeparator(head_, headLength_);
            headLength_ = 0;
            if (mbox_ && separator) StartMail();
            return;
        }
        const char* line = headers_.data() + lineStart_;
        size_t size = headers_.size() - lineStart_;
        if (mbox_ && IsSeparator(line, size)) {
            headers_.resize(lineStart_);
            Emit();
            StartMail();
            return;
        }
        if (size > 0 && line[size - 1] == '\n') --size;
        if (size > 0 && line[size - 1] == '\r') --size;
        if (!IsHeaderBlockLine(line, size)) {
            // The empty line, or the first body line of a mail that lacks it.
            if (size > 0) headers_.resize(lineStart_);
            Emit();
            state_ = kBody;
            headLength_ = 0;
        } else {
            lineStart_ = headers_.size();
        }
    }

    void StartMail() {
        ++index_;
        headers_.clear();
        headLength_ = 0;
        lineStart_ = 0;
        state_ = kHeaders;
    }

    // Built in one string kept from mail to mail.
    const std::string& Label() {
        if (!mbox_) return path_;
        char number[24];
        char* end = std::to_chars(number, number + sizeof number, index_).ptr;
        label_.assign(path_)
            .append(" [")
            .append(number, static_cast<size_t>(end - number))
            .append("]");
        return label_;
    }

    void Emit() {
        sink_(Label(), headers_.data(), headers_.size());
        headers_.clear();
        lineStart_ = 0;
    }

    // The rest of the mail is skipped like a body; the part of the line that
    // is left is no separator.
    void TooLarge() {
        sink_(Label(), nullptr, 0);
        std::string().swap(headers_);
        lineStart_ = 0;
        state_ = kBody;
        headLength_ = sizeof head_;
        head_[0] = '\0';
    }

    const std::string& path_;
    const bool mbox_;
    const MailSink& sink_;
    State state_;
    std::string headers_;
    std::string label_;
    size_t lineStart_ = 0;  // where the line being read starts in headers_
    char head_[5] = {};     // the first bytes of a line outside the headers
    size_t headLength_ = 0;
    bool partial_ = false;  // bytes of a line whose end has not come yet
    uint64_t index_ = 0;
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

ReadOutcome ReadMails(const InputFile& file, const MailSink& sink, uint64_t& bytesRead,
                      std::string& failure, ProgressLine* progress) {
    if (file.leftOut) {
        failure = file.note;
        return ReadOutcome::kNotMail;
    }
    std::unique_ptr<std::FILE, FileCloser> stream(OpenForReading(file.path));
    if (!stream) {
        failure = std::string("cannot open: ") + std::strerror(errno);
        return ReadOutcome::kFailed;
    }
    std::vector<char> chunk(kChunkSize);
    size_t got = std::fread(chunk.data(), 1, chunk.size(), stream.get());
    if (got == 0 && !std::ferror(stream.get())) {
        if (file.given) failure = "empty, no mail";
        return ReadOutcome::kNotMail;
    }
    if (!file.given && !std::ferror(stream.get()) && !LooksLikeMail(chunk.data(), got)) {
        return ReadOutcome::kNotMail;
    }
    // Whatever stands before an mbox's first mail is no mail; the lines that hold
    // something are counted for the note.
    size_t start = MboxStart(chunk.data(), got);
    const bool mbox = start != std::string::npos;
    if (!mbox) start = ByteOrderMarkLength(chunk.data(), got);
    size_t junkLines = 0;
    for (size_t pos = ByteOrderMarkLength(chunk.data(), got); pos < start;) {
        const char* lf =
            static_cast<const char*>(std::memchr(chunk.data() + pos, '\n', start - pos));
        const size_t end = lf ? static_cast<size_t>(lf - chunk.data()) : start;
        junkLines += std::any_of(chunk.data() + pos, chunk.data() + end,
                                 [](char c) { return c != ' ' && c != '\t' && c != '\r'; });
        pos = end + 1;
    }
    if (mbox && junkLines > 0) {
        failure = std::to_string(junkLines) + (junkLines == 1 ? " line" : " lines") +
                  " before the first mail left out";
    }
    MailSplitter splitter(file.path, mbox, sink);
    bytesRead += start;
    const char* piece = chunk.data() + start;
    size_t pieceSize = got - start;
    for (;;) {
        bytesRead += pieceSize;
        if (progress) progress->Bytes(bytesRead);
        splitter.Feed(piece, pieceSize);
        if (got < chunk.size() || splitter.Done()) break;
        got = std::fread(chunk.data(), 1, chunk.size(), stream.get());
        piece = chunk.data();
        pieceSize = got;
    }
    if (std::ferror(stream.get())) {
        failure = "read error";
        return ReadOutcome::kFailed;
    }
    splitter.Finish();
    return ReadOutcome::kRead;
}

ProgressLine::ProgressLine(std::FILE* terminal, int64_t intervalMs)
    : terminal_(terminal), intervalMs_(intervalMs), started_(NowMs()), shown_(started_) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Clear() {
    if (!drawn_) return;
    std::fprintf(terminal_, "\r%60s\r", "");
    std::fflush(terminal_);
    drawn_ = false;
}

void ProgressLine::Mail(uint64_t bytesSoFar) {
    // The clock is asked only every so many mails: tens of thousands arrive a
    // second. Long mails move the line through Bytes, once a chunk.
    if (terminal_ && ++mails_ % 1024 == 0) Update(bytesSoFar);
}

void ProgressLine::Bytes(uint64_t bytesSoFar) {
    if (terminal_) Update(bytesSoFar);
}

void ProgressLine::Update(uint64_t bytesSoFar) {
    const int64_t now = NowMs();
    if (now - shown_ < intervalMs_) return;
    shown_ = now;
    const double seconds = static_cast<double>(now - started_) / 1000.0;
    const double megabytes = static_cast<double>(bytesSoFar) / 1e6;
    std::fprintf(terminal_, "\r%llu mails, %.0f MB, %.0f MB/s   ",
                 static_cast<unsigned long long>(mails_), megabytes,
                 seconds > 0 ? megabytes / seconds : 0.0);
    std::fflush(terminal_);
    drawn_ = true;
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
