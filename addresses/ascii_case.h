// Addresses and header names compare with the ASCII letters A to Z folded and
// every other byte exact, whatever the code page says. The one home of that
// rule, of the hash that goes with it, and of the UTF-16 surrogate ranges.
#pragma once

#include <cstdint>

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// True when a and b are equal, ignoring the case of ASCII letters only.
inline bool EqualsNoCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && FoldAscii(*x) == FoldAscii(*y)) ++x, ++y;
    return FoldAscii(*x) == FoldAscii(*y);
}

// FNV-1a over the bytes, ASCII letters folded, so that texts EqualsNoCase
// calls equal hash alike.
inline uint32_t HashNoCase(const char* text) {
    uint32_t hash = 2166136261u;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        hash = (hash ^ FoldAscii(*p)) * 16777619u;
    }
    return hash;
}

inline bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}
inline bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}
