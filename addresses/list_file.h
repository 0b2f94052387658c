// The list file's byte rules, the same on every platform: they are the rules of
// Windows text mode, applied by hand so that no C runtime decides them.
//  - CR LF counts as one line feed; a bare LF ends a line too; a bare CR is text.
//  - Ctrl-Z (0x1A) ends the data.
//  - A line is read in pieces of at most 259 bytes; a longer one is split.
//  - A zero byte ends the entry's text; the rest of its piece is dropped.
//  - An empty piece is no entry; a last line without a line end is one.
#pragma once

#include <cstddef>

constexpr size_t kMaxPiece = 259;

class ListFileParser {
  public:
    // Receives each entry's text, zero-terminated, in file order.
    using EntrySink = void (*)(void* context, const char* text);

    ListFileParser(EntrySink sink, void* context) : sink_(sink), context_(context) {}

    void Feed(const char* data, size_t size);
    // Ends the data: flushes a held CR and an unterminated last line.
    void Finish();

  private:
    void Put(char c);
    void EmitPiece();

    EntrySink sink_;
    void* context_;
    char piece_[kMaxPiece + 1] = {};
    size_t length_ = 0;
    bool pendingCr_ = false;
    bool ended_ = false;
};

// Writes entries as lines: each text as text mode would write it (LF becomes
// CR LF), then CR LF. Buffers, and stops writing at the sink's first failure.
class ListFileWriter {
  public:
    using ByteSink = bool (*)(void* context, const char* data, size_t size);

    ListFileWriter(ByteSink sink, void* context) : sink_(sink), context_(context) {}

    void AddEntry(const char* text);
    // Writes what is buffered; true when every byte reached the sink.
    bool Finish();

  private:
    void Put(char c);
    void Flush();

    ByteSink sink_;
    void* context_;
    char buffer_[8192];
    size_t used_ = 0;
    bool ok_ = true;
};
