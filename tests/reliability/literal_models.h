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

// A list file's bytes as 8-bit text: after a UTF-8 mark, the bytes that follow;
// after a UTF-16 mark (FF FE little end first, FE FF big end first), each
// character in UTF-8, which stands for the system's code page (a unit of half a
// surrogate pair has no form and is '?', an odd last byte is dropped);
// otherwise the bytes themselves.
inline std::string DecodedText(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0;
    if (!little && bytes.compare(0, 2, "\xFE\xFF") != 0) return bytes;
    std::vector<unsigned> units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(little ? a | b << 8 : a << 8 | b);
    }
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            text += '?';
            continue;
        }
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
    return text;
}

// The entries a list file holds, in file order: text mode first (the data ends
// at Ctrl-Z, CR LF becomes LF), then reads of at most 259 bytes that stop after
// a line feed, each cut at its line feed and at a zero byte, empty ones dropped.
// A last line without line end is taken. The bytes are DecodedText first.
inline std::vector<std::string> FileEntries(const std::string& bytes) {
    std::string text;
    const std::string decoded = DecodedText(bytes);
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
