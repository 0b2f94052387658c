// Addresses and header names compare with the ASCII letters A to Z folded and
// every other byte exact, whatever the code page says.
#pragma once

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
