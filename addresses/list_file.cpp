#include "addresses/list_file.h"

#include <cstring>

namespace {
constexpr char kCtrlZ = 0x1A;
}

void ListFileParser::Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size && !ended_; ++i) {
        const char c = data[i];
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                Put('\n');
                continue;
            }
            Put('\r');
        }
        if (c == kCtrlZ) {
            ended_ = true;
        } else if (c == '\r') {
            pendingCr_ = true;  // decided by the next byte, which may be in the next chunk
        } else {
            Put(c);
        }
    }
}

void ListFileParser::Finish() {
    if (pendingCr_) {
        pendingCr_ = false;
        Put('\r');
    }
    if (length_ > 0) EmitPiece();
    ended_ = true;
}

void ListFileParser::Put(char c) {
    piece_[length_++] = c;
    if (c == '\n' || length_ == kMaxPiece) EmitPiece();
}

void ListFileParser::EmitPiece() {
    piece_[length_] = '\0';
    length_ = 0;
    char* lineFeed = std::strchr(piece_, '\n');
    if (lineFeed) *lineFeed = '\0';
    if (piece_[0] != '\0') sink_(context_, piece_);
}

void ListFileWriter::AddEntry(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') Put('\r');
        Put(*p);
    }
    Put('\r');
    Put('\n');
}

bool ListFileWriter::Finish() {
    Flush();
    return ok_;
}

void ListFileWriter::Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
}

void ListFileWriter::Flush() {
    if (ok_ && used_ > 0) ok_ = sink_(context_, buffer_, used_);
    used_ = 0;
}
