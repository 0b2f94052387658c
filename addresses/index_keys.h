// How the address index files an address and finds it again: ASCII folding, the
// bytes' rarity in header text, and the hash of the bytes around an anchor byte.
// Shared by the index (address_index.cpp) and its scans (index_scan.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

struct FoldTable {
    unsigned char map[256];
    constexpr FoldTable() : map() {
        for (int c = 0; c < 256; ++c) {
            map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
    }
    unsigned char operator[](unsigned char c) const { return map[c]; }
};
constexpr FoldTable kFold;

// How often a (folded) byte turns up in header text, roughly; lower is rarer.
struct RarityTable {
    unsigned char rank[256];
    constexpr RarityTable() : rank() {
        const char letters[] = "84568446723657842778534342";  // a to z
        const char common[] = " .-:;,<>()[]\"=/_+";
        for (int c = 0; c < 256; ++c) {
            unsigned char byteRank = 1;  // control bytes, non-ASCII and rare punctuation
            if (c >= 'a' && c <= 'z') byteRank = static_cast<unsigned char>(letters[c - 'a'] - '0');
            if (c >= '0' && c <= '9') byteRank = 5;
            for (const char* p = common; *p; ++p) {
                if (c == static_cast<unsigned char>(*p)) byteRank = 9;
            }
            if (c == '@') byteRank = 0;
            rank[c] = byteRank;
        }
    }
};
constexpr RarityTable kRarity;

// The shapes of the hashed bytes: how many before the anchor and how many after
// it. A shape is a before-count index times the number of after-counts plus an
// after-count index.
constexpr unsigned kBefore[] = {0, 1, 2, 4, 8};
constexpr unsigned kAfter[] = {0, 1, 3, 7};
constexpr unsigned kAfterCounts = static_cast<unsigned>(std::size(kAfter));
constexpr size_t kMaxBefore = kBefore[std::size(kBefore) - 1];
constexpr size_t kMaxAfter = kAfter[kAfterCounts - 1];
// The shapes used under one anchor byte are kept as a bit mask.
static_assert(std::size(kBefore) * kAfterCounts <= 32, "a shape set fits 32 bits");

inline unsigned BytesBefore(unsigned shape) {
    return kBefore[shape / kAfterCounts];
}
inline unsigned BytesAfter(unsigned shape) {
    return kAfter[shape % kAfterCounts];
}

// The widest shape that fits around offset `anchor` of a text `length` bytes long.
inline unsigned ShapeAt(size_t anchor, size_t length) {
    const size_t room = length - 1 - anchor;
    unsigned before = static_cast<unsigned>(std::size(kBefore)) - 1, after = kAfterCounts - 1;
    while (kBefore[before] > anchor) --before;
    while (kAfter[after] > room) --after;
    return before * kAfterCounts + after;
}

// How many of the bytes the widest shape could take around offset `anchor` lie
// outside a text `length` bytes long.
inline size_t BytesMissingAround(size_t anchor, size_t length) {
    const size_t room = length - 1 - anchor;
    return (anchor < kMaxBefore ? kMaxBefore - anchor : 0) +
           (room < kMaxAfter ? kMaxAfter - room : 0);
}

// `before` holds the bytes before the anchor nearest first, `after` the anchor
// and the bytes after it, both folded.
inline uint32_t ShapeHash(uint64_t before, uint64_t after, unsigned shape) {
    uint64_t mixed = before * 0x9E3779B97F4A7C15ull ^ (after + shape) * 0xC2B2AE3D27D4EB4Full;
    mixed ^= mixed >> 29;
    mixed *= 0xBF58476D1CE4E5B9ull;
    return static_cast<uint32_t>(mixed >> 32);
}

// The hash of the bytes `shape` takes around the anchor byte at `anchor`, folded;
// the text must hold them all.
inline uint32_t HashAround(const unsigned char* anchor, unsigned shape) {
    uint64_t before = 0, after = 0;
    for (unsigned i = 0; i < BytesBefore(shape); ++i) {
        before |= uint64_t{kFold[anchor[-1 - static_cast<ptrdiff_t>(i)]]} << (8 * i);
    }
    for (unsigned i = 0; i <= BytesAfter(shape); ++i) {
        after |= uint64_t{kFold[anchor[i]]} << (8 * i);
    }
    return ShapeHash(before, after, shape);
}
