#include "addresses/address_index.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "addresses/address_list.h"
#include "addresses/index_keys.h"
#include "addresses/index_state.h"

// How it works. Each address is filed under one of its bytes, its anchor, picked
// to be rare in header text ('@' in a mail address), and under a hash of the
// bytes around the anchor: up to 8 before it and up to 7 after it, as far as the
// address reaches, in one of a few fixed shapes (index_keys.h). Finding addresses
// in a text (index_scan.cpp) means scanning it for anchor bytes and, at each one,
// looking up the pair of bytes around it in a bitmap, then hashing the text's
// bytes around it in each shape used under that anchor and comparing the few
// addresses filed under that hash in full. Every occurrence of an address puts
// its anchor byte at some scanned position with its shape's bytes around it, so
// none is missed.

AddressIndex g_addressIndex;

namespace {

#ifdef QUORVEL_TEST_SWITCHES
int g_allocationsLeft = -1;
#endif

void* Allocate(void* old, size_t size) {
#ifdef QUORVEL_TEST_SWITCHES
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
#endif
    return std::realloc(old, size);
}

// Grows *block to hold at least `needed` items, doubling.
template <typename T, typename Count>
bool Reserve(T*& block, Count& size, size_t needed) {
    if (needed <= size) return true;
    size_t grown = size ? size : 16;
    while (grown < needed) grown *= 2;
    if (grown > UINT32_MAX || grown > SIZE_MAX / sizeof(T)) return false;
    void* moved = Allocate(block, grown * sizeof(T));
    if (!moved) return false;
    block = static_cast<T*>(moved);
    size = static_cast<Count>(grown);
    return true;
}

void FreeIndex() {
    std::free(g_addressIndex.arena);
    std::free(g_addressIndex.records);
    std::free(g_addressIndex.buckets);
    std::memset(&g_addressIndex, 0, sizeof g_addressIndex);
}

void MarkBroken() {
    FreeIndex();
    g_addressIndex.broken = true;
}

void ChangeAnchorCount(unsigned char anchor, bool up) {
    uint32_t& count = g_addressIndex.anchorCount[anchor];
    if (up)
        ++count;
    else
        --count;
    if (count == 0) g_addressIndex.shapes[anchor] = 0;
    if (count == (up ? 1u : 0u)) PrepareScan();
}

// The anchor: the rarest byte, preferring one already used as an anchor (fewer
// bytes to scan for), then the widest shape around it.
size_t ChooseAnchor(const unsigned char* folded, size_t length) {
    size_t best = 0;
    unsigned bestScore = ~0u;
    for (size_t offset = 0; offset < length; ++offset) {
        const unsigned char byte = folded[offset];
        const unsigned score = kRarity.rank[byte] * 64u +
                               (g_addressIndex.anchorCount[byte] ? 0u : 32u) +
                               static_cast<unsigned>(BytesMissingAround(offset, length));
        if (score < bestScore) bestScore = score, best = offset;
    }
    return best;
}

void Link(uint32_t record) {
    IndexRecord& filed = g_addressIndex.records[record];
    uint32_t& bucket = g_addressIndex.buckets[filed.hash & g_addressIndex.bucketMask];
    filed.next = bucket;
    bucket = record + 1;
}

bool GrowBuckets(uint32_t needed) {
    AddressIndex& index = g_addressIndex;
    if (needed <= index.bucketMask + 1 && index.buckets) return true;
    uint32_t count = 16;
    while (count < needed) {
        if (count > UINT32_MAX / 2) return false;
        count *= 2;
    }
    void* block = Allocate(nullptr, size_t{count} * sizeof(uint32_t));
    if (!block) return false;
    std::free(index.buckets);
    index.buckets = static_cast<uint32_t*>(block);
    std::memset(index.buckets, 0, size_t{count} * sizeof(uint32_t));
    index.bucketMask = count - 1;
    // Rechain the live records; free ones keep their free-list links.
    for (uint32_t record = 0; record < index.recordsUsed; ++record) {
        if (index.records[record].length) Link(record);
    }
    return true;
}

bool Insert(const char* text) {
    AddressIndex& index = g_addressIndex;
    const size_t length = std::strlen(text);
    if (length == 0) {
        ++index.emptyTexts;
        return true;
    }
    if (length > UINT32_MAX - index.arenaUsed ||
        !Reserve(index.arena, index.arenaSize, index.arenaUsed + length))
        return false;
    if (!index.freeRecords &&
        !Reserve(index.records, index.recordsSize, size_t{index.recordsUsed} + 1))
        return false;
    if (!GrowBuckets(index.live + 1)) return false;

    unsigned char* folded = index.arena + index.arenaUsed;
    for (size_t i = 0; i < length; ++i) folded[i] = kFold[static_cast<unsigned char>(text[i])];
    const size_t anchor = ChooseAnchor(folded, length);
    const unsigned shape = ShapeAt(anchor, length);
    const uint32_t hash = HashAround(folded + anchor, shape);

    uint32_t record;
    if (index.freeRecords) {
        record = index.freeRecords - 1;
        index.freeRecords = index.records[record].next;
    } else {
        record = index.recordsUsed++;
    }
    index.records[record] = {static_cast<uint32_t>(index.arenaUsed), static_cast<uint32_t>(length),
                             static_cast<uint32_t>(anchor), hash, 0};
    index.arenaUsed += length;
    Link(record);
    ++index.live;
    index.shapes[folded[anchor]] |= 1u << shape;
    if (anchor > 0 && anchor + 1 < length) {
        const unsigned pair = PairOf(folded[anchor - 1], folded[anchor + 1]);
        index.pairs[pair / 64] |= uint64_t{1} << (pair % 64);
    } else {
        ++index.openEnded[folded[anchor]];
    }
    ChangeAnchorCount(folded[anchor], true);
    return true;
}

bool SameFolded(const unsigned char* folded, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (folded[i] != kFold[static_cast<unsigned char>(text[i])]) return false;
    }
    return true;
}

// Finds the record of a text by trying each of its bytes that is an anchor
// (its anchor was chosen by what the index held then, so it is not known now).
bool Remove(const char* text) {
    AddressIndex& index = g_addressIndex;
    const size_t length = std::strlen(text);
    if (length == 0) {
        if (!index.emptyTexts) return false;
        --index.emptyTexts;
        return true;
    }
    if (!index.live || length > UINT32_MAX) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t offset = 0; offset < length; ++offset) {
        const unsigned char anchor = kFold[bytes[offset]];
        if (!index.anchorCount[anchor]) continue;
        const unsigned shape = ShapeAt(offset, length);
        if (!(index.shapes[anchor] & (1u << shape))) continue;
        const uint32_t hash = HashAround(bytes + offset, shape);
        for (uint32_t* link = &index.buckets[hash & index.bucketMask]; *link;) {
            IndexRecord& filed = index.records[*link - 1];
            if (filed.hash != hash || filed.anchor != offset || filed.length != length ||
                !SameFolded(index.arena + filed.text, text, length)) {
                link = &filed.next;
                continue;
            }
            const uint32_t record = *link - 1;
            *link = filed.next;
            filed.length = 0;
            filed.next = index.freeRecords;
            index.freeRecords = record + 1;
            index.garbage += length;
            --index.live;
            if (offset == 0 || offset + 1 == length) --index.openEnded[anchor];
            ChangeAnchorCount(anchor, false);
            return true;
        }
    }
    return false;
}

bool BuildFromList() {
    FreeIndex();
    size_t count = 0, bytes = 0;
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        ++count;
        bytes += std::strlen(entry->text);
    }
    if (count == 0) return true;
    AddressIndex& index = g_addressIndex;
    if (count > UINT32_MAX / 2 || !Reserve(index.arena, index.arenaSize, bytes) ||
        !Reserve(index.records, index.recordsSize, count) ||
        !GrowBuckets(static_cast<uint32_t>(count))) {
        return false;
    }
    PrepareScan();
    // Oldest first, so that a rebuilt index picks the anchors an incremental one would.
    const AddressEntry* oldest = g_addressList.head;
    while (oldest && oldest->next) oldest = oldest->next;
    for (const AddressEntry* entry = oldest; entry; entry = entry->prev) {
        if (!Insert(entry->text)) return false;
    }
    return true;
}

}  // namespace

void IndexAddedEntry(const AddressEntry* entry) {
    if (g_addressIndex.broken || g_addressIndex.head != entry->next || !Insert(entry->text)) {
        RebuildAddressIndex();
        return;
    }
    g_addressIndex.head = g_addressList.head;
}

void IndexRemovedEntry(const AddressEntry* entry) {
    const AddressIndex& index = g_addressIndex;
    const AddressEntry* headBefore = entry->prev ? g_addressList.head : entry;
    if (index.broken || index.head != headBefore || !Remove(entry->text) ||
        (index.garbage > 4096 && index.garbage > index.arenaUsed / 2)) {
        RebuildAddressIndex();
        return;
    }
    g_addressIndex.head = g_addressList.head;
}

void RebuildAddressIndex() {
    if (!BuildFromList()) MarkBroken();
    g_addressIndex.head = g_addressList.head;
}

void ReleaseAddressIndex() {
    FreeIndex();
}

bool AddressIndexInStep() {
    return !g_addressIndex.broken && g_addressIndex.head == g_addressList.head;
}

size_t AddressIndexBytes() {
    const AddressIndex& index = g_addressIndex;
    return sizeof index + index.arenaSize + size_t{index.recordsSize} * sizeof(IndexRecord) +
           (index.buckets ? (size_t{index.bucketMask} + 1) * sizeof(uint32_t) : 0);
}

#ifdef QUORVEL_TEST_SWITCHES
void FailIndexAllocationsAfter(int successes) {
    g_allocationsLeft = successes < 0 ? -1 : successes;
}
#endif
