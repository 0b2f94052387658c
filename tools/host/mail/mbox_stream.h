// The mails of one file, read as a stream: an mbox cut at its "From " lines, or
// a single mail, and of each mail only its header block kept. An mbox of any
// size takes memory for one mail's headers at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/host/mail/mail_inputs.h"

// A header block above this size is not read.
constexpr size_t kMaxHeaderBlock = 64u * 1024 * 1024;

// How much of a file is read at a time.
constexpr size_t kChunkSize = 1024 * 1024;

// Receives each mail's header block (its empty line included when it has one)
// and its label: the path, or "PATH [N]" for the Nth mail of an mbox. headers
// is null when the block is larger than kMaxHeaderBlock.
using MailSink = std::function<void(const std::string& label, const char* headers, size_t size)>;

enum class ReadOutcome { kRead, kNotMail, kFailed };

class ProgressLine;

// Hands every mail of the file to sink, in file order: a file marked oneMail
// as one mail, its "From " line as the envelope. kNotMail: an empty file,
// a file left out by CollectInputs, or a file found in a folder that does not
// start like a mail; such files are passed over. kFailed: the reason is in
// failure; mails read before a read error have already gone to sink. Every byte
// read is added to bytesRead, and told to progress, when given, as it is read.
// With kRead or kNotMail, failure is a note for the user when it is not empty:
// what was left out and why (an empty file named on the command line, the lines
// of junk before an mbox's first mail).
ReadOutcome ReadMails(const InputFile& file, const MailSink& sink, uint64_t& bytesRead,
                      std::string& failure, ProgressLine* progress = nullptr);

// Cuts a stream of bytes into mails and keeps only each one's header block. A
// line is looked at when its end arrives, so a line may span any number of
// pieces. A header line ends at a line feed, a CR LF or a bare carriage return,
// as the header parser reads it; the file is cut into mails at lines that start
// after a line feed only, so a separator runs to its line feed, and a "From "
// after a bare carriage return starts no mail. Of a body line only its first
// five bytes are kept, enough to tell an mbox separator, and those only when it
// spans pieces. In an mbox, what
// comes before the first separator is no mail, and a body line escaped as
// ">From " stays in its mail. path and sink must outlive the splitter.
class MailSplitter {
  public:
    MailSplitter(const std::string& path, bool mbox, const MailSink& sink)
        : path_(path), mbox_(mbox), sink_(sink), state_(mbox ? kSkipping : kHeaders) {}

    // The next piece of the stream. A header block that lies whole in one piece
    // is handed over from it unmeasured: no piece may exceed kMaxHeaderBlock.
    void Feed(const char* data, size_t size);
    // Ends the stream: a last line without a line feed, and the headers of a
    // mail that had no body.
    void Finish();
    // A single mail whose headers have gone to the sink: the rest is body, which
    // nothing reads.
    bool Done() const { return !mbox_ && (state_ == kSkipping || state_ == kInBodyLine); }

  private:
    enum State {
        kSkipping,        // at a line's start outside the headers: an mbox's junk, or a body
        kInBodyLine,      // in such a line begun in an earlier piece; its first bytes in head_
        kHeaders,         // in a header block, gathered in headers_
        kHeadersInPiece,  // in a header block that lies in this piece from block_ on
    };

    void SkippedLine(const char* line, const char* next, bool ended);
    void BodyLinePart(const char* data, const char* next, bool ended);
    void EndBodyLine();
    void HeaderLineInPiece(const char* line, const char* next, bool ended);
    void KeepBlock(const char* begin, const char* end);
    void HeaderLinePart(const char* data, const char* next, bool ended);
    void EndHeaderLine();
    void Separator(bool lineFeed);
    void ToBody(bool lineFeed);
    void StartMail();
    const std::string& Label();
    void Emit();
    void TooLarge();

    const std::string& path_;
    const bool mbox_;
    const MailSink& sink_;
    State state_;
    std::string headers_;
    std::string label_;
    size_t lineStart_ = 0;  // where the line being read starts in headers_
    char head_[5] = {};     // the first bytes of a line outside the headers
    size_t headLength_ = 0;
    const char* block_ = nullptr;  // in kHeadersInPiece, where the block starts
    bool atLfLine_ = true;  // the header line being read starts after a line feed, or the mail
    uint64_t index_ = 0;
};
