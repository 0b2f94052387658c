// The address index's data, kept by address_index.cpp and read by the scans in
// index_scan.cpp. Touch it only with the list's lock held.
#pragma once

#include <cstddef>
#include <cstdint>

struct AddressEntry;

// One filed address.
struct IndexRecord {
    uint32_t text;    // offset of the folded text in the arena
    uint32_t length;  // at least 1: empty texts are only counted
    uint32_t anchor;  // offset of the anchor byte in the text
    uint32_t hash;
    uint32_t next;  // next record in the bucket (or on the free list), plus one; 0 ends
};

// The vector scans compare each block with every anchor byte, in both cases.
constexpr size_t kMaxVectorAnchors = 8;

struct AddressIndex {
    bool broken;               // memory ran out: unusable until rebuilt
    const AddressEntry* head;  // the list's head when last brought in step
    unsigned char* arena;      // folded texts, back to back
    size_t arenaUsed, arenaSize;
    size_t garbage;  // arena bytes of removed texts, given back by a rebuild
    IndexRecord* records;
    uint32_t recordsUsed, recordsSize;
    uint32_t freeRecords;  // first record on the free list, plus one; 0 for none
    uint32_t live;         // records in use
    uint32_t* buckets;     // record plus one; 0 for none
    uint32_t bucketMask;
    uint32_t emptyTexts;
    uint32_t anchorCount[256];  // live records per anchor byte (folded)
    uint32_t shapes[256];       // shapes used per anchor byte; may keep stale bits
    // The bytes right before and after the anchor, a bit per folded pair, for a
    // first look; addresses that begin or end at their anchor are counted instead.
    uint64_t pairs[65536 / 64];  // may keep stale bits
    uint32_t openEnded[256];
    // What the scans look for, set up by PrepareScan whenever the set of anchor
    // bytes changes.
    unsigned char stops[256];                        // per raw byte: 1 anchor, 2 end of text
    unsigned char vectorAnchors[kMaxVectorAnchors];  // raw anchor bytes for the vector scans
    unsigned vectorAnchorCount;                      // 0: too many for them, scan bytewise
    bool sse2, avx2;                                 // what the processor offers
};

extern AddressIndex g_addressIndex;

// Sets up the scans for the anchor bytes the index uses now.
void PrepareScan();

// The bit of the pair of folded bytes around an anchor in AddressIndex::pairs.
inline unsigned PairOf(unsigned char before, unsigned char after) {
    return unsigned{before} << 8 | after;
}
