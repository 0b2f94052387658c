#include "tools/host/mail/mbox_stream.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/host/mail/byte_scans.h"
#include "tools/host/mail/mail_parser.h"
#include "tools/host/mail/progress_line.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The line's length without its line end: LF, CR LF or a bare CR.
size_t WithoutLineEnd(const char* line, size_t size) {
    if (size > 0 && line[size - 1] == '\n') --size;
    if (size > 0 && line[size - 1] == '\r') --size;
    return size;
}

}  // namespace

void MailSplitter::Feed(const char* data, size_t size) {
    static_assert(kChunkSize <= kMaxHeaderBlock, "a block in one chunk is never too large");
    const char* const end = data + size;
    // A carriage return ended the last piece: its line ends here, with the line
    // feed when one follows.
    if (data < end && state_ == kHeaders && headers_.size() > lineStart_ &&
        headers_.back() == '\r') {
        if (*data == '\n') {
            HeaderLinePart(data, data + 1, true);
            ++data;
        } else {
            EndHeaderLine();
        }
    }
    while (data < end) {
        if (state_ == kSkipping) {
            // Outside the headers only separators count: in a single mail
            // nothing does, in an mbox the lines that may be one.
            if (!mbox_) return;
            data = NextPossibleSeparator(data, end);
            if (data == end) return;
        } else if (state_ == kHeaders && headers_.empty()) {
            // A block that starts in this piece is handed over from it, and
            // copied only when the piece ends inside it: most mails never are.
            state_ = kHeadersInPiece;
            block_ = data;
        }
        const char* next = end;
        bool ended = false;
        if (state_ == kHeaders || state_ == kHeadersInPiece) {
            // A carriage return at the piece's end may have its line feed in the next.
            const char* const stop = FindLineEnd(data, static_cast<size_t>(end - data));
            ended = stop && (*stop == '\n' || stop + 1 < end);
            if (ended) next = stop + (*stop == '\r' && stop[1] == '\n' ? 2 : 1);
        } else if (const char* const lf = FindByte(data, static_cast<size_t>(end - data), '\n')) {
            next = lf + 1;
            ended = true;
        }
        switch (state_) {
            case kSkipping:
                SkippedLine(data, next, ended);
                break;
            case kInBodyLine:
                BodyLinePart(data, next, ended);
                break;
            case kHeaders:
                HeaderLinePart(data, next, ended);
                break;
            case kHeadersInPiece:
                HeaderLineInPiece(data, next, ended);
                break;
        }
        data = next;
    }
    if (state_ == kHeadersInPiece) KeepBlock(block_, end);
}

void MailSplitter::Finish() {
    if (state_ == kInBodyLine) EndBodyLine();
    if (state_ == kHeaders && headers_.size() > lineStart_) EndHeaderLine();
    if (state_ == kHeaders) Emit();
}

// A line outside the headers, or its start when the piece ends inside it:
// only its first bytes count. An mbox's only.
void MailSplitter::SkippedLine(const char* line, const char* next, bool ended) {
    if (ended) {
        if (IsFromLine(line, static_cast<size_t>(next - line))) StartMail();
        return;
    }
    state_ = kInBodyLine;
    BodyLinePart(line, next, false);
}

void MailSplitter::BodyLinePart(const char* data, const char* next, bool ended) {
    const size_t take = static_cast<size_t>(next - data);
    const size_t room = sizeof head_ - headLength_;
    const size_t copy = take < room ? take : room;
    std::memcpy(head_ + headLength_, data, copy);
    headLength_ += copy;
    if (ended) EndBodyLine();
}

void MailSplitter::EndBodyLine() {
    const bool separator = IsFromLine(head_, headLength_);
    headLength_ = 0;
    state_ = kSkipping;
    if (mbox_ && separator) StartMail();
}

// A whole line of the block that lies in this piece from block_ on, or the
// start of one that the piece ends inside.
void MailSplitter::HeaderLineInPiece(const char* line, const char* next, bool ended) {
    if (!ended) {
        KeepBlock(block_, line);
        HeaderLinePart(line, next, false);
        return;
    }
    const size_t size = static_cast<size_t>(next - line);
    const bool lf = line[size - 1] == '\n';
    if (mbox_ && atLfLine_ && IsFromLine(line, size)) {
        sink_(Label(), block_, static_cast<size_t>(line - block_));
        Separator(lf);
        return;
    }
    atLfLine_ = lf;
    const size_t length = WithoutLineEnd(line, size);
    if (!IsHeaderBlockLine(line, length)) {
        // The empty line, kept with the block, or the first body line of a
        // mail that lacks it, which is not.
        const char* const blockEnd = length == 0 ? next : line;
        sink_(Label(), block_, static_cast<size_t>(blockEnd - block_));
        ToBody(lf);
    }
}

// The whole lines of the block from begin to end, copied: the piece ends
// after them.
void MailSplitter::KeepBlock(const char* begin, const char* end) {
    headers_.assign(begin, static_cast<size_t>(end - begin));
    lineStart_ = headers_.size();
    state_ = kHeaders;
}

// A header line or the part of it in this piece, added to headers_.
void MailSplitter::HeaderLinePart(const char* data, const char* next, bool ended) {
    const size_t take = static_cast<size_t>(next - data);
    if (take > kMaxHeaderBlock - headers_.size()) {
        TooLarge();
        BodyLinePart(data, next, ended);
        return;
    }
    headers_.append(data, take);
    if (ended) EndHeaderLine();
}

// The line from lineStart_ on in headers_ has ended, or the data has.
void MailSplitter::EndHeaderLine() {
    const char* line = headers_.data() + lineStart_;
    const size_t size = headers_.size() - lineStart_;
    const bool lf = size > 0 && line[size - 1] == '\n';
    if (mbox_ && atLfLine_ && IsFromLine(line, size)) {
        headers_.resize(lineStart_);
        Emit();
        Separator(lf);
        return;
    }
    atLfLine_ = lf;
    const size_t length = WithoutLineEnd(line, size);
    if (!IsHeaderBlockLine(line, length)) {
        // The empty line, or the first body line of a mail that lacks it.
        if (length > 0) headers_.resize(lineStart_);
        Emit();
        ToBody(lf);
    } else {
        lineStart_ = headers_.size();
    }
}

// An mbox's separator runs to its line feed: what follows a carriage return
// in it is still the envelope, not a header.
void MailSplitter::Separator(bool lineFeed) {
    if (lineFeed) return StartMail();
    std::memcpy(head_, "From ", 5);
    headLength_ = 5;
    state_ = kInBodyLine;
}

// After the header block: at a line's start when its last line ended with a
// line feed, else inside an mbox line, where no separator can start.
void MailSplitter::ToBody(bool lineFeed) {
    if (lineFeed) {
        state_ = kSkipping;
        headLength_ = 0;
        return;
    }
    state_ = kInBodyLine;
    headLength_ = sizeof head_;
    head_[0] = '\0';
}

void MailSplitter::StartMail() {
    ++index_;
    headers_.clear();
    headLength_ = 0;
    lineStart_ = 0;
    atLfLine_ = true;
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
    ToBody(false);
}

ReadOutcome ReadMails(const InputFile& file, const MailSink& sink, uint64_t& bytesRead,
                      std::string& failure, ProgressLine* progress) {
    if (file.leftOut != LeftOut::kNone) {
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
    size_t start = file.oneMail ? std::string::npos : MboxStart(chunk.data(), got);
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
