// The list file's rules and the mail check written out as plainly as they are
// stated, sharing no code with the plug-in. Fuzzing and the reliability tests
// hold the real reader and check to these.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace literal {

inline char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the part stands in the text at position at, ASCII case ignored.
inline bool StandsAt(const std::string& text, size_t at, const std::string& part) {
    if (at > text.size() || part.size() > text.size() - at) return false;
    for (size_t i = 0; i < part.size(); ++i) {
        if (Fold(text[at + i]) != Fold(part[i])) return false;
    }
    return true;
}

inline bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StandsAt(a, 0, b);
}

// The first position of the part in the text, ASCII case ignored, or npos.
inline size_t FindNoCase(const std::string& text, const std::string& part) {
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (StandsAt(text, i, part)) return i;
    }
    return std::string::npos;
}

inline bool ContainsNoCase(const std::string& text, const std::string& part) {
    return FindNoCase(text, part) != std::string::npos;
}

// Whether the system's code page has a form for a character. The model writes
// the characters in UTF-8, which stands for the code page: a caller on another
// code page gives lists whose other characters it lacks, and says HoldsAscii.
using Holds = bool (*)(unsigned c);
inline bool HoldsEvery(unsigned) {
    return true;
}
inline bool HoldsAscii(unsigned c) {
    return c < 0x80;
}

constexpr unsigned kBroken = 0xFFFFFFFFu;

// UTF-8 as code points; a byte that starts or continues no character (a cut,
// overlong, surrogate or too large one included) is kBroken.
inline std::vector<unsigned> Utf8Characters(const std::string& bytes, size_t from) {
    std::vector<unsigned> characters;
    for (size_t i = from; i < bytes.size();) {
        const unsigned b = static_cast<unsigned char>(bytes[i]);
        const size_t length = b < 0x80       ? 1
                              : b >> 5 == 6  ? 2
                              : b >> 4 == 14 ? 3
                              : b >> 3 == 30 ? 4
                                             : 0;
        unsigned c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        size_t k = 1;
        for (; length > 0 && k < length && i + k < bytes.size(); ++k) {
            const unsigned next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) break;
            c = c << 6 | (next & 0x3F);
        }
        const unsigned least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (length == 0 || k < length || (length > 1 && c < least) || (c >= 0xD800 && c < 0xE000) ||
            c > 0x10FFFF) {
            characters.push_back(kBroken);
            i += length == 0 ? 1 : k;
            continue;
        }
        characters.push_back(c);
        i += length;
    }
    return characters;
}

// UTF-16 as code points; half a surrogate pair is kBroken, an odd last byte dropped.
inline std::vector<unsigned> Utf16Characters(const std::string& bytes, bool little) {
    std::vector<unsigned> units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(little ? a | b << 8 : a << 8 | b);
    }
    std::vector<unsigned> characters;
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kBroken;
        }
        characters.push_back(c);
    }
    return characters;
}

inline void PutUtf8(unsigned c, std::string& text) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A list file's bytes as 8-bit text. After a UTF-8 mark (EF BB BF) the bytes
// are UTF-8, after a UTF-16 mark (FF FE little end first, FE FF big end first)
// UTF-16; each line of those characters, up to a line feed or Ctrl-Z, is
// written in UTF-8, or left out whole when one of its characters is broken or
// has no form in the code page (held says). The line feeds and Ctrl-Z stay.
// Without a mark, the bytes themselves.
inline std::string DecodedText(const std::string& bytes, Holds held = HoldsEvery) {
    std::vector<unsigned> characters;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        characters = Utf8Characters(bytes, 3);
    } else if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
        characters = Utf16Characters(bytes, bytes[0] == '\xFF');
    } else {
        return bytes;
    }
    std::string text;
    for (size_t start = 0; start < characters.size();) {
        size_t end = start;
        while (end < characters.size() && characters[end] != '\n' && characters[end] != 0x1A) {
            ++end;
        }
        bool whole = true;
        for (size_t i = start; i < end; ++i) {
            whole = whole && characters[i] != kBroken && held(characters[i]);
        }
        for (size_t i = start; whole && i < end; ++i) PutUtf8(characters[i], text);
        if (end < characters.size()) text += static_cast<char>(characters[end]);
        start = end + 1;
    }
    return text;
}

// The entries a list file holds, in file order: text mode first (the data ends
// at Ctrl-Z, CR LF becomes LF), then reads of at most 259 bytes that stop after
// a line feed, each cut at its line feed and at a zero byte, empty ones dropped.
// A last line without line end is taken. The bytes are DecodedText first.
inline std::vector<std::string> FileEntries(const std::string& bytes, Holds held = HoldsEvery) {
    std::string text;
    const std::string decoded = DecodedText(bytes, held);
    const std::string data = decoded.substr(0, decoded.find('\x1a'));
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
        text += data[i];
    }
    std::vector<std::string> entries;
    for (size_t pos = 0; pos < text.size();) {
        std::string piece;
        while (pos < text.size() && piece.size() < 259) {
            piece += text[pos++];
            if (piece.back() == '\n') break;
        }
        piece = piece.substr(0, piece.find('\n'));
        piece = piece.substr(0, piece.find('\0'));
        if (!piece.empty()) entries.push_back(piece);
    }
    return entries;
}

struct Header {
    bool hasName;
    bool hasValue;
    std::string name;
    std::string value;
};

// -1 for spam, 0 for not: spam exactly when the list is not empty, the mail has
// a To, Cc, Envelope-To or Received header, and none of those headers' values
// contains a listed address. Headers the host left without name or value are
// passed over.
inline int Verdict(const std::vector<std::string>& list, const std::vector<Header>& headers) {
    if (list.empty()) return 0;
    static const char* const kNames[] = {"To", "Cc", "Envelope-To", "Received"};
    int seen = 0;
    for (const Header& header : headers) {
        if (!header.hasName || !header.hasValue) continue;
        for (const char* name : kNames) {
            if (!SameNoCase(header.name, name)) continue;
            ++seen;
            for (const std::string& address : list) {
                if (ContainsNoCase(header.value, address)) return 0;
            }
        }
    }
    return seen > 0 ? -1 : 0;
}

}  // namespace literal
