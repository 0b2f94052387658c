// The list file's byte rules, the same on every platform: they are the rules of
// Windows text mode, applied by hand so that no C runtime decides them.
//  - CR LF counts as one line feed; a bare LF ends a line too; a bare CR is text.
//  - Ctrl-Z (0x1A) ends the data.
//  - A line is read in pieces of at most 259 bytes; a longer one is split.
//  - A zero byte ends the entry's text; the rest of its piece is dropped.
//  - An empty piece is no entry; a last line without a line end is one.
// An editor's mark at the start chooses how the bytes are text: after a UTF-8
// or UTF-16 mark (either byte order) the text becomes the system's code page
// first; the rules above then hold for that 8-bit text, 259 bytes counted after
// the conversion. A line (up to a line feed or Ctrl-Z) that does not convert
// exactly, because a character has no form in the code page or the encoding is
// broken, gives no entry: a '?' in its place would match other mail. A list is
// saved back in the form it came in.
#pragma once

#include <cstddef>

constexpr size_t kMaxPiece = 259;

enum class ListEncoding {
    Bytes,       // 8-bit text in the system's code page, no mark
    Utf8Marked,  // UTF-8 after a mark (EF BB BF)
    Utf16Le,     // UTF-16 after FF FE
    Utf16Be,     // UTF-16 after FE FF
};

// What of a file the entries do not give back when they are written: a bit set.
enum ListLoss : unsigned {
    kLostAfterCtrlZ = 1,     // a Ctrl-Z and everything after it
    kLostAfterZeroByte = 2,  // a zero byte in a line, and the rest of its piece
    kLostSplitLine = 4,      // a line longer than a piece, which comes back as several
    kLostUnconvertible = 8,  // a line that does not convert exactly, or an odd last byte
};

class ListFileParser {
  public:
    // Receives each entry's text, zero-terminated, in file order.
    using EntrySink = void (*)(void* context, const char* text);

    ListFileParser(EntrySink sink, void* context) : sink_(sink), context_(context) {}

    void Feed(const char* data, size_t size);
    // Ends the data: flushes a held CR and an unterminated last line.
    void Finish();
    // The ListLoss bits of what was fed so far.
    unsigned losses() const { return losses_; }

    // Where a piece of a line stands in the text fed, for tools that point at
    // lines. Empty pieces and those a zero byte cuts are told too.
    struct Piece {
        size_t line;    // counted from 1
        size_t start;   // offset of its first byte
        size_t length;  // without the line end; a zero byte and what follows it included
    };
    using PieceSink = void (*)(void* context, const Piece& piece);
    // Also hands sink each piece as it ends, before its entry goes out.
    void TapPieces(PieceSink sink, void* context) {
        pieceSink_ = sink;
        pieceContext_ = context;
    }
    // The line being read: after a Ctrl-Z, the one that holds it.
    size_t line() const { return line_; }
    // The offset of the Ctrl-Z that ended the data, or kNoCtrlZ.
    static constexpr size_t kNoCtrlZ = ~size_t{0};
    size_t ctrlZAt() const { return ctrlZAt_; }

  private:
    void Put(char c, size_t at);
    void EmitPiece();

    EntrySink sink_;
    void* context_;
    char piece_[kMaxPiece + 1] = {};
    size_t length_ = 0;
    bool pendingCr_ = false;
    bool ended_ = false;
    bool splitOpen_ = false;  // a full piece went out; a line feed next would end it cleanly
    unsigned losses_ = 0;
    size_t fed_ = 0;         // bytes fed before the current Feed
    size_t pieceStart_ = 0;  // offset of the piece's first byte
    size_t line_ = 1;
    size_t ctrlZAt_ = kNoCtrlZ;
    PieceSink pieceSink_ = nullptr;
    void* pieceContext_ = nullptr;
};

// A list file's bytes as the plug-in's load reads them: the mark, the
// conversion, then ListFileParser. The one reader for the load, the save's
// second look at the file and any tool that wants to see the file as they do.
class ListFileReader {
  public:
    ListFileReader(ListFileParser::EntrySink sink, void* context) : parser_(sink, context) {}
    ~ListFileReader();
    ListFileReader(const ListFileReader&) = delete;
    ListFileReader& operator=(const ListFileReader&) = delete;

    void Feed(const char* data, size_t size);
    // Ends the data, as ListFileParser::Finish does.
    void Finish();
    // Known once the first bytes are in (Bytes for a file too short for a mark).
    ListEncoding encoding() const { return encoding_; }
    // The ListLoss bits: nonzero when writing the entries would not give back the file.
    unsigned losses() const { return parser_.losses() | losses_; }
    // Also hands sink the 8-bit text that the line rules read, as it is made:
    // after the mark, converted, without the lines that do not convert.
    using TextSink = void (*)(void* context, const char* text, size_t size);
    void TapText(TextSink sink, void* context) {
        textSink_ = sink;
        textContext_ = context;
    }

  private:
    void Pass(const char* text, size_t size);
    void Decide(bool final);
    void FeedText(const unsigned char* data, size_t size);
    void FeedUtf8(const unsigned char* data, size_t size);
    void AddUnit(char16_t unit);
    void ConvertUnits(bool final);
    bool Convert(const char16_t* units, size_t count, char* out, size_t* made);
    void AddToLine(const char16_t* units, size_t count);
    void EndLine(const char16_t* units, size_t count, char end);

    ListFileParser parser_;
    ListEncoding encoding_ = ListEncoding::Bytes;
    bool decided_ = false;
    unsigned char head_[3] = {};  // the first bytes, until they show a mark or none
    size_t headLength_ = 0;
    int oddByte_ = -1;  // a UTF-16 unit's first byte, its second still to come
    char16_t units_[2048] = {};
    size_t unitCount_ = 0;
    // A UTF-8 character begun: its bits so far, its lead byte, the bytes to come.
    unsigned utf8Code_ = 0;
    unsigned char utf8Lead_ = 0;
    int utf8Needed_ = 0;
    // The converted text of a line that began in earlier units, held until its
    // end shows whether the whole line converts.
    char* line_ = nullptr;
    size_t lineSize_ = 0;
    size_t lineCapacity_ = 0;
    bool lineLost_ = false;
    unsigned losses_ = 0;
    TextSink textSink_ = nullptr;
    void* textContext_ = nullptr;
};

// Writes entries as lines: each text as text mode would write it (LF becomes
// CR LF), then CR LF; in UTF-8 or UTF-16, the same lines converted, after the mark.
// Buffers, and stops writing at the sink's first failure (or when memory for a
// long entry's conversion runs out).
class ListFileWriter {
  public:
    using ByteSink = bool (*)(void* context, const char* data, size_t size);

    ListFileWriter(ByteSink sink, void* context, ListEncoding encoding = ListEncoding::Bytes);

    void AddEntry(const char* text);
    // Writes what is buffered; true when every byte reached the sink.
    bool Finish();

  private:
    void Put(char c);
    void PutWide(const char* line, size_t size);
    void PutUtf8(const char16_t* units, size_t count, size_t* at);
    void Flush();

    ByteSink sink_;
    void* context_;
    ListEncoding encoding_;
    char buffer_[8192];
    size_t used_ = 0;
    bool ok_ = true;
    bool first_ = true;
};
