// Here the system's code page is UTF-8.
#include "addresses/code_page.h"

#include <cstdint>

#include "addresses/ascii_case.h"

namespace {

size_t PutUtf8(uint32_t c, char* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if (c < 0x80) {
        o[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        o[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        o[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        o[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        o[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    o[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    o[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    o[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

}  // namespace

size_t WideToSystemText(const char16_t* units, size_t count, char* out, bool* lossy) {
    size_t made = 0;
    for (size_t i = 0; i < count; ++i) {
        const char16_t u = units[i];
        if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
            const uint32_t c = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) +
                               (static_cast<uint32_t>(units[i + 1]) - 0xDC00);
            made += PutUtf8(c, out + made);
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            out[made++] = '?';  // half a pair has no form in UTF-8
            *lossy = true;
        } else {
            made += PutUtf8(u, out + made);
        }
    }
    return made;
}

size_t SystemTextToWide(const char* text, size_t size, char16_t* out) {
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    size_t made = 0;
    for (size_t i = 0; i < size;) {
        const unsigned char b = t[i];
        const size_t length = b < 0x80         ? 1
                              : (b >> 5) == 6  ? 2
                              : (b >> 4) == 14 ? 3
                              : (b >> 3) == 30 ? 4
                                               : 0;
        uint32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        bool valid = length > 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (t[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (t[i + k] & 0x3F);
        }
        valid = valid && !(c >= 0xD800 && c < 0xE000) && c < 0x110000 &&
                c >= (length == 2   ? 0x80u
                      : length == 3 ? 0x800u
                      : length == 4 ? 0x10000u
                                    : 0u);
        if (!valid) {
            out[made++] = 0xFFFD;  // a byte that starts no character
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            // A pair: four bytes became two units, so the output stays within size.
            out[made++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[made++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[made++] = static_cast<char16_t>(c);
        }
        i += length;
    }
    return made;
}
