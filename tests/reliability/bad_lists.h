// List files that no editor of ours would write: huge, binary, cut off, with
// lines around the reader's 259-byte piece. Each is made from a fixed seed.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>
#include <string>

#include "tests/reliability/literal_models.h"

struct BadList {
    const char* what;
    std::string (*make)();
    // Holds bytes its entries do not give back on every code page: the first
    // save keeps a backup.
    bool lossy;
};

// The characters of the system's code page, as far as the lists below need to
// know: beyond ASCII they hold only characters that Windows-1252 lacks.
inline literal::Holds SystemHolds() {
#ifdef _WIN32
    return GetACP() == CP_UTF8 ? literal::HoldsEvery : literal::HoldsAscii;
#else
    return literal::HoldsEvery;
#endif
}

// Also lossy where the code page lacks a character of the list: its line gives no entry.
inline bool LossyHere(const BadList& list, const std::string& bytes) {
    return list.lossy || literal::DecodedText(bytes, SystemHolds()) != literal::DecodedText(bytes);
}

namespace bad_lists {

// A small fixed generator, the same on every platform.
class Bytes {
  public:
    explicit Bytes(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

  private:
    uint32_t state_;
};

// Lines of 0 to 600 bytes of mail-like text, CR LF or LF, up to 50 MB: long
// lines split into pieces, hundreds of thousands of entries.
inline std::string FiftyMegabytes() {
    Bytes random(50);
    std::string block;
    while (block.size() < 65536) {
        const size_t length = random.Next() % 601;
        for (size_t i = 0; i < length; ++i) {
            block += "abcdefghijklmnopqrstuvwxyz0123456789@.-_ <>"[random.Next() % 43];
        }
        block += random.Next() % 2 ? "\r\n" : "\n";
    }
    std::string bytes;
    bytes.reserve(50u << 20);
    while (bytes.size() + block.size() <= (50u << 20)) bytes += block;
    return bytes;
}

inline std::string MillionShortLines() {
    std::string bytes;
    bytes.reserve(8u << 20);
    static const char kHex[] = "0123456789abcdef";
    for (uint32_t i = 0; i < 1000000; ++i) {
        for (uint32_t n = i;; n >>= 4) {
            bytes += kHex[n & 15];
            if (n < 16) break;
        }
        bytes += i % 3 ? "\r\n" : "\n";
    }
    return bytes;
}

inline std::string RandomBinary() {
    Bytes random(0xB1);
    std::string bytes(1u << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random.Next() >> 24);
    return bytes;
}

inline std::string OnlyCtrlZ() {
    return "\x1a";
}

inline std::string CtrlZThenText() {
    return std::string(1000, '\x1a') + "after@example.com\r\n";
}

// Lines whose bytes tell where the reader split them.
inline std::string Line(size_t length, char first, char rest) {
    return first + std::string(length - 1, rest);
}
inline std::string PieceBoundaries() {
    return Line(258, 'a', 'b') + "\r\n" + Line(259, 'c', 'd') + "\r\n" + Line(260, 'e', 'f') +
           "\n" + Line(518, 'g', 'h') + "\r\n" + Line(259, 'i', 'j') + "\r\r\n" +
           Line(258, 'k', 'l') + "\r\r\n";
}

// UTF-16 as an editor writes it, spoilt: halves of surrogate pairs, zero units,
// a line longer than a piece, an odd last byte. Characters with no code-page
// form are written '?' in every code page.
inline std::string Utf16(bool little) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    const auto unit = [&bytes, little](unsigned u) {
        const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
    };
    Bytes random(little ? 16 : 61);
    for (int line = 0; line < 2000; ++line) {
        const size_t length = random.Next() % 300;
        for (size_t i = 0; i < length; ++i) {
            // Never a high half before a low one: a whole pair's form depends on the code page.
            const uint32_t r = random.Next() % 64;
            if (r == 0) unit(0xD800);
            unit(r == 1 ? 0xDC00 : r == 2 ? 0 : "abcdefgh@.-_ z"[r % 14]);
        }
        if (random.Next() % 2) unit('\r');
        unit('\n');
    }
    bytes += 'x';
    return bytes;
}
inline std::string Utf16Le() {
    return Utf16(true);
}
inline std::string Utf16Be() {
    return Utf16(false);
}

inline std::string Utf8Marked() {
    return "\xEF\xBB\xBF"
           "first@example.com\r\nsecond@example.com\n\xEF\xBB\xBF\r\n";
}

}  // namespace bad_lists

inline const BadList kBadLists[] = {
    {"a 50 MB file", bad_lists::FiftyMegabytes, true},
    {"1,000,000 short lines", bad_lists::MillionShortLines, false},
    {"1 MB of random bytes", bad_lists::RandomBinary, true},
    {"only Ctrl-Z", bad_lists::OnlyCtrlZ, true},
    {"Ctrl-Z before any text", bad_lists::CtrlZThenText, true},
    {"lines of 258, 259, 260 and 518 bytes", bad_lists::PieceBoundaries, true},
    {"spoilt UTF-16, little end first", bad_lists::Utf16Le, true},
    {"spoilt UTF-16, big end first", bad_lists::Utf16Be, true},
    {"a UTF-8 mark, and one as the text of a line", bad_lists::Utf8Marked, false},
};
