#include "tools/host/mbox_stream.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/host/mail_parser.h"
#include "tools/host/byte_scans.h"
#include "tools/host/progress_line.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void MailSplitter::Feed(const char* data, size_t size) {
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
            if (mbox_ && IsFromLine(data, take)) StartMail();
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

void MailSplitter::Finish() {
    if (partial_) EndLine();
    if (state_ == kHeaders) Emit();
}

// A whole line of a header block that started in this chunk at block.
void MailSplitter::HeaderLineInChunk(const char*& block, const char* line, size_t size) {
    if (mbox_ && IsFromLine(line, size)) {
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
void MailSplitter::FeedLine(const char* data, size_t take, bool lf) {
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

void MailSplitter::EndLine() {
    partial_ = false;
    if (state_ != kHeaders) {
        const bool separator = IsFromLine(head_, headLength_);
        headLength_ = 0;
        if (mbox_ && separator) StartMail();
        return;
    }
    const char* line = headers_.data() + lineStart_;
    size_t size = headers_.size() - lineStart_;
    if (mbox_ && IsFromLine(line, size)) {
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

void MailSplitter::StartMail() {
    ++index_;
    headers_.clear();
    headLength_ = 0;
    lineStart_ = 0;
    state_ = kHeaders;
}

// Built in one string kept from mail to mail.
const std::string& MailSplitter::Label() {
    if (!mbox_) return path_;
    char number[24];
    char* end = std::to_chars(number, number + sizeof number, index_).ptr;
    label_.assign(path_).append(" [").append(number, static_cast<size_t>(end - number)).append("]");
    return label_;
}

void MailSplitter::Emit() {
    sink_(Label(), headers_.data(), headers_.size());
    headers_.clear();
    lineStart_ = 0;
}

// The rest of the mail is skipped like a body; the part of the line that
// is left is no separator.
void MailSplitter::TooLarge() {
    sink_(Label(), nullptr, 0);
    std::string().swap(headers_);
    lineStart_ = 0;
    state_ = kBody;
    headLength_ = sizeof head_;
    head_[0] = '\0';
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
