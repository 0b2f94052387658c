#include "addresses/address_index.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "addresses/address_list.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QUORVEL_X86 1
#endif

// How it works. Each address is filed under one of its bytes, its anchor, picked
// to be rare in header text ('@' in a mail address), and under a hash of the
// bytes around the anchor: up to 8 before it and up to 7 after it, as far as the
// address reaches, in one of a few fixed shapes. Finding addresses in a text
// means scanning it for anchor bytes (32 or 16 at a time where the processor has
// AVX2 or SSE2, else bytewise, chosen at run time) and, at each one, looking up
// the pair of bytes around it in a bitmap, then hashing the text's bytes around
// it in each shape used under that anchor and comparing the few addresses filed
// under that hash in full. Every occurrence of an address puts its anchor byte
// at some scanned position with its shape's bytes around it, so none is missed.

namespace {

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
            unsigned char r = 1;  // control bytes, non-ASCII and rare punctuation
            if (c >= 'a' && c <= 'z') r = static_cast<unsigned char>(letters[c - 'a'] - '0');
            if (c >= '0' && c <= '9') r = 5;
            for (const char* p = common; *p; ++p) {
                if (c == static_cast<unsigned char>(*p)) r = 9;
            }
            if (c == '@') r = 0;
            rank[c] = r;
        }
    }
};
constexpr RarityTable kRarity;

// The shapes of the hashed bytes: how many before the anchor and after it.
constexpr unsigned kBefore[] = {0, 1, 2, 4, 8};
constexpr unsigned kAfter[] = {0, 1, 3, 7};
constexpr unsigned kShapes = 20;
constexpr size_t kMaxBefore = 8;
constexpr size_t kMaxAfter = 7;

unsigned ShapeFor(size_t before, size_t after) {
    unsigned b = 4, a = 3;
    while (kBefore[b] > before) --b;
    while (kAfter[a] > after) --a;
    return b * 4 + a;
}

uint64_t LowBytes(uint64_t bytes, unsigned count) {
    return count >= 8 ? bytes : bytes & ((uint64_t{1} << (8 * count)) - 1);
}

// `before` holds the bytes before the anchor nearest first, `after` the anchor
// and the bytes after it, both folded.
uint32_t ShapeHash(uint64_t before, uint64_t after, unsigned shape) {
    uint64_t x = before * 0x9E3779B97F4A7C15ull ^ (after + shape) * 0xC2B2AE3D27D4EB4Full;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return static_cast<uint32_t>(x >> 32);
}

struct Record {
    uint32_t text;    // offset of the folded text in the arena
    uint32_t length;  // at least 1: empty texts are only counted
    uint32_t anchor;  // offset of the anchor byte in the text
    uint32_t hash;
    uint32_t next;  // next record in the bucket (or on the free list), plus one; 0 ends
};

constexpr size_t kMaxRawAnchors = 8;

struct Index {
    bool broken;               // memory ran out: unusable until rebuilt
    const AddressEntry* head;  // the list's head when last brought in step
    unsigned char* arena;      // folded texts, back to back
    size_t arenaUsed, arenaSize, garbage;
    Record* records;
    uint32_t recordsUsed, recordsSize, freeRecords, live;
    uint32_t* buckets;  // record plus one; 0 for none
    uint32_t bucketMask;
    uint32_t emptyTexts;
    uint32_t anchorCount[256];  // live records per anchor byte (folded)
    uint32_t shapes[256];       // shapes used per anchor byte; may keep stale bits
    // The bytes right before and after the anchor, a bit per folded pair, for a
    // first look; addresses that begin or end at their anchor are counted instead.
    uint64_t pairs[65536 / 64];  // may keep stale bits
    uint32_t openEnded[256];
    unsigned char stops[256];           // per raw byte: 1 anchor, 2 end of text
    unsigned char raw[kMaxRawAnchors];  // raw anchor bytes for the SSE2 scan
    unsigned rawCount;                  // 0: too many for it, scan bytewise
    bool sse2, avx2;
};

Index g_index;
ScanWidth g_widest = ScanWidth::kAvx2;
int g_allocationsLeft = -1;

void* Allocate(void* old, size_t size) {
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
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
    std::free(g_index.arena);
    std::free(g_index.records);
    std::free(g_index.buckets);
    std::memset(&g_index, 0, sizeof g_index);
}

void MarkBroken() {
    FreeIndex();
    g_index.broken = true;
}

bool HasSse2() {
#if defined(__x86_64__)
    return true;
#elif defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

bool HasAvx2() {
#ifdef QUORVEL_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

unsigned PairOf(unsigned char before, unsigned char after) {
    return unsigned{before} << 8 | after;
}

void RefreshScan() {
    Index& ix = g_index;
    std::memset(ix.stops, 0, sizeof ix.stops);
    ix.stops[0] = 2;
    ix.rawCount = 0;
    bool fits = true;
    for (int c = 0; c < 256; ++c) {
        if (!ix.anchorCount[c]) continue;
        const bool letter = c >= 'a' && c <= 'z';
        ix.stops[c] = 1;
        if (letter) ix.stops[c - 32] = 1;
        if (ix.rawCount + (letter ? 2 : 1) > kMaxRawAnchors) fits = false;
        if (!fits) continue;
        ix.raw[ix.rawCount++] = static_cast<unsigned char>(c);
        if (letter) ix.raw[ix.rawCount++] = static_cast<unsigned char>(c - 32);
    }
    if (!fits) ix.rawCount = 0;
    ix.sse2 = HasSse2();
    ix.avx2 = HasAvx2();
}

void ChangeAnchorCount(unsigned char anchor, bool up) {
    uint32_t& count = g_index.anchorCount[anchor];
    if (up)
        ++count;
    else
        --count;
    if (count == 0) g_index.shapes[anchor] = 0;
    if (count == (up ? 1u : 0u)) RefreshScan();
}

// The anchor: the rarest byte, preferring one already used as an anchor (fewer
// bytes to scan for), then the widest shape around it.
size_t ChooseAnchor(const unsigned char* folded, size_t length) {
    size_t best = 0;
    unsigned bestScore = ~0u;
    for (size_t k = 0; k < length; ++k) {
        const size_t before = k < kMaxBefore ? k : kMaxBefore;
        const size_t rest = length - 1 - k;
        const size_t after = rest < kMaxAfter ? rest : kMaxAfter;
        const unsigned score = kRarity.rank[folded[k]] * 64u +
                               (g_index.anchorCount[folded[k]] ? 0u : 32u) +
                               static_cast<unsigned>(kMaxBefore + kMaxAfter - before - after);
        if (score < bestScore) bestScore = score, best = k;
    }
    return best;
}

// The key bytes around offset k of a folded text, in the shape they fit.
uint32_t TextHash(const unsigned char* folded, size_t length, size_t k, unsigned* shape) {
    const size_t rest = length - 1 - k;
    *shape = ShapeFor(k < kMaxBefore ? k : kMaxBefore, rest < kMaxAfter ? rest : kMaxAfter);
    const unsigned b = kBefore[*shape / 4], a = kAfter[*shape % 4];
    uint64_t before = 0, after = 0;
    for (unsigned i = 0; i < b; ++i) before |= uint64_t{folded[k - 1 - i]} << (8 * i);
    for (unsigned i = 0; i <= a; ++i) after |= uint64_t{folded[k + i]} << (8 * i);
    return ShapeHash(before, after, *shape);
}

void Link(uint32_t record) {
    Record& r = g_index.records[record];
    uint32_t& bucket = g_index.buckets[r.hash & g_index.bucketMask];
    r.next = bucket;
    bucket = record + 1;
}

bool GrowBuckets(uint32_t needed) {
    if (needed <= g_index.bucketMask + 1 && g_index.buckets) return true;
    uint32_t count = 16;
    while (count < needed) {
        if (count > UINT32_MAX / 2) return false;
        count *= 2;
    }
    void* block = Allocate(nullptr, size_t{count} * sizeof(uint32_t));
    if (!block) return false;
    std::free(g_index.buckets);
    g_index.buckets = static_cast<uint32_t*>(block);
    std::memset(g_index.buckets, 0, size_t{count} * sizeof(uint32_t));
    g_index.bucketMask = count - 1;
    // Rechain the live records; free ones keep their free-list links.
    for (uint32_t i = 0; i < g_index.recordsUsed; ++i) {
        if (g_index.records[i].length) Link(i);
    }
    return true;
}

bool Insert(const char* text) {
    Index& ix = g_index;
    const size_t length = std::strlen(text);
    if (length == 0) {
        ++ix.emptyTexts;
        return true;
    }
    if (length > UINT32_MAX - ix.arenaUsed ||
        !Reserve(ix.arena, ix.arenaSize, ix.arenaUsed + length))
        return false;
    if (!ix.freeRecords && !Reserve(ix.records, ix.recordsSize, size_t{ix.recordsUsed} + 1))
        return false;
    if (!GrowBuckets(ix.live + 1)) return false;

    unsigned char* folded = ix.arena + ix.arenaUsed;
    for (size_t i = 0; i < length; ++i) folded[i] = kFold[static_cast<unsigned char>(text[i])];
    const size_t anchor = ChooseAnchor(folded, length);
    unsigned shape;
    const uint32_t hash = TextHash(folded, length, anchor, &shape);

    uint32_t record;
    if (ix.freeRecords) {
        record = ix.freeRecords - 1;
        ix.freeRecords = ix.records[record].next;
    } else {
        record = ix.recordsUsed++;
    }
    ix.records[record] = {static_cast<uint32_t>(ix.arenaUsed), static_cast<uint32_t>(length),
                          static_cast<uint32_t>(anchor), hash, 0};
    ix.arenaUsed += length;
    Link(record);
    ++ix.live;
    ix.shapes[folded[anchor]] |= 1u << shape;
    if (anchor > 0 && anchor + 1 < length) {
        const unsigned pair = PairOf(folded[anchor - 1], folded[anchor + 1]);
        ix.pairs[pair / 64] |= uint64_t{1} << (pair % 64);
    } else {
        ++ix.openEnded[folded[anchor]];
    }
    ChangeAnchorCount(folded[anchor], true);
    return true;
}

// Finds the record of a text by trying each of its bytes that is an anchor
// (its anchor was chosen by what the index held then, so it is not known now).
bool Remove(const char* text) {
    Index& ix = g_index;
    const size_t length = std::strlen(text);
    if (length == 0) {
        if (!ix.emptyTexts) return false;
        --ix.emptyTexts;
        return true;
    }
    if (!ix.live || length > UINT32_MAX) return false;
    for (size_t k = 0; k < length; ++k) {
        const unsigned char anchor = kFold[static_cast<unsigned char>(text[k])];
        if (!ix.anchorCount[anchor]) continue;
        const size_t rest = length - 1 - k;
        const unsigned shape =
            ShapeFor(k < kMaxBefore ? k : kMaxBefore, rest < kMaxAfter ? rest : kMaxAfter);
        if (!(ix.shapes[anchor] & (1u << shape))) continue;
        const unsigned b = kBefore[shape / 4], a = kAfter[shape % 4];
        uint64_t before = 0, after = 0;
        for (unsigned i = 0; i < b; ++i)
            before |= uint64_t{kFold[static_cast<unsigned char>(text[k - 1 - i])]} << (8 * i);
        for (unsigned i = 0; i <= a; ++i)
            after |= uint64_t{kFold[static_cast<unsigned char>(text[k + i])]} << (8 * i);
        const uint32_t hash = ShapeHash(before, after, shape);
        for (uint32_t* link = &ix.buckets[hash & ix.bucketMask]; *link;) {
            Record& r = ix.records[*link - 1];
            bool same = r.hash == hash && r.anchor == k && r.length == length;
            for (size_t i = 0; same && i < length; ++i) {
                same = ix.arena[r.text + i] == kFold[static_cast<unsigned char>(text[i])];
            }
            if (!same) {
                link = &r.next;
                continue;
            }
            const uint32_t record = *link - 1;
            *link = r.next;
            r.length = 0;
            r.next = ix.freeRecords;
            ix.freeRecords = record + 1;
            ix.garbage += length;
            --ix.live;
            if (k == 0 || k + 1 == length) --ix.openEnded[anchor];
            ChangeAnchorCount(anchor, false);
            return true;
        }
    }
    return false;
}

bool BuildFromList() {
    FreeIndex();
    size_t count = 0, bytes = 0;
    for (const AddressEntry* e = g_addressList.head; e; e = e->next) {
        ++count;
        bytes += std::strlen(e->text);
    }
    if (count == 0) return true;
    Index& ix = g_index;
    if (count > UINT32_MAX / 2 || !Reserve(ix.arena, ix.arenaSize, bytes) ||
        !Reserve(ix.records, ix.recordsSize, count) || !GrowBuckets(static_cast<uint32_t>(count))) {
        return false;
    }
    RefreshScan();
    // Oldest first, so that a rebuilt index picks the anchors an incremental one would.
    const AddressEntry* last = g_addressList.head;
    while (last && last->next) last = last->next;
    for (const AddressEntry* e = last; e; e = e->prev) {
        if (!Insert(e->text)) return false;
    }
    return true;
}

bool Matches(const unsigned char* folded, uint32_t length, const unsigned char* at) {
    // The text's zero byte differs from every byte of an address, so this stops there.
    for (uint32_t i = 0; i < length; ++i) {
        if (kFold[at[i]] != folded[i]) return false;
    }
    return true;
}

// Whether an address with its anchor at p, in the text starting at start, occurs there.
bool Probe(const unsigned char* start, const unsigned char* p) {
    const Index& ix = g_index;
    const unsigned char anchor = kFold[*p];
    if (!ix.openEnded[anchor]) {
        if (p == start || !p[1]) return false;
        const unsigned pair = PairOf(kFold[p[-1]], kFold[p[1]]);
        if (!((ix.pairs[pair / 64] >> (pair % 64)) & 1)) return false;
    }
    uint32_t shapes = ix.shapes[anchor];
    const size_t reach = static_cast<size_t>(p - start);
    const unsigned haveBefore = reach < kMaxBefore ? static_cast<unsigned>(reach) : 8;
    uint64_t before = 0, after = anchor;
    for (unsigned i = 0; i < haveBefore; ++i) before |= uint64_t{kFold[*(p - 1 - i)]} << (8 * i);
    unsigned haveAfter = 0;
    while (haveAfter < kMaxAfter && p[haveAfter + 1]) {
        ++haveAfter;
        after |= uint64_t{kFold[p[haveAfter]]} << (8 * haveAfter);
    }
    while (shapes) {
        const unsigned shape = static_cast<unsigned>(__builtin_ctz(shapes));
        shapes &= shapes - 1;
        const unsigned b = kBefore[shape / 4], a = kAfter[shape % 4];
        if (b > haveBefore || a > haveAfter) continue;
        const uint32_t hash = ShapeHash(LowBytes(before, b), LowBytes(after, a + 1), shape);
        for (uint32_t r = ix.buckets[hash & ix.bucketMask]; r;) {
            const Record& record = ix.records[r - 1];
            if (record.hash == hash && record.anchor <= reach &&
                Matches(ix.arena + record.text, record.length, p - record.anchor)) {
                return true;
            }
            r = record.next;
        }
    }
    return false;
}

bool ScanBytes(const unsigned char* start) {
    for (const unsigned char* p = start;; ++p) {
        const unsigned char stop = g_index.stops[*p];
        if (!stop) continue;
        if (stop == 2) return false;
        if (Probe(start, p)) return true;
    }
}

#ifdef QUORVEL_X86
// Reads whole aligned 16-byte blocks, which never cross into another page: it may
// read past the text's zero byte but never faults, hence no address sanitizer.
__attribute__((target("sse2"), no_sanitize_address)) bool ScanSse2(const unsigned char* start) {
    const Index& ix = g_index;
    __m128i anchors[kMaxRawAnchors];
    for (unsigned i = 0; i < ix.rawCount; ++i)
        anchors[i] = _mm_set1_epi8(static_cast<char>(ix.raw[i]));
    const __m128i zero = _mm_setzero_si128();
    const uintptr_t offset = reinterpret_cast<uintptr_t>(start) & 15;
    const unsigned char* block = start - offset;
    unsigned keep = (0xFFFFu << offset) & 0xFFFFu;
    for (;; block += 16, keep = 0xFFFFu) {
        const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        __m128i hit = _mm_cmpeq_epi8(bytes, anchors[0]);
        for (unsigned i = 1; i < ix.rawCount; ++i)
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(bytes, anchors[i]));
        const unsigned end =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))) & keep;
        unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(hit)) & keep;
        if (end) hits &= (end & (0u - end)) - 1;  // only those before the zero byte
        while (hits) {
            const unsigned i = static_cast<unsigned>(__builtin_ctz(hits));
            hits &= hits - 1;
            if (Probe(start, block + i)) return true;
        }
        if (end) return false;
    }
}

// The same, 32 bytes at a time.
__attribute__((target("avx2"), no_sanitize_address)) bool ScanAvx2(const unsigned char* start) {
    const Index& ix = g_index;
    __m256i anchors[kMaxRawAnchors];
    for (unsigned i = 0; i < ix.rawCount; ++i)
        anchors[i] = _mm256_set1_epi8(static_cast<char>(ix.raw[i]));
    const __m256i zero = _mm256_setzero_si256();
    const uintptr_t offset = reinterpret_cast<uintptr_t>(start) & 31;
    const unsigned char* block = start - offset;
    uint32_t keep = ~uint32_t{0} << offset;
    for (;; block += 32, keep = ~uint32_t{0}) {
        const __m256i bytes = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
        __m256i hit = _mm256_cmpeq_epi8(bytes, anchors[0]);
        for (unsigned i = 1; i < ix.rawCount; ++i)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(bytes, anchors[i]));
        const uint32_t end =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, zero))) & keep;
        uint32_t hits = static_cast<uint32_t>(_mm256_movemask_epi8(hit)) & keep;
        if (end) hits &= (end & (0u - end)) - 1;
        while (hits) {
            const unsigned i = static_cast<unsigned>(__builtin_ctz(hits));
            hits &= hits - 1;
            if (Probe(start, block + i)) return true;
        }
        if (end) return false;
    }
}
#endif

}  // namespace

void IndexAddedEntry(const AddressEntry* entry) {
    if (g_index.broken || g_index.head != entry->next || !Insert(entry->text)) {
        RebuildAddressIndex();
        return;
    }
    g_index.head = g_addressList.head;
}

void IndexRemovedEntry(const AddressEntry* entry) {
    const AddressEntry* headBefore = entry->prev ? g_addressList.head : entry;
    if (g_index.broken || g_index.head != headBefore || !Remove(entry->text) ||
        (g_index.garbage > 4096 && g_index.garbage > g_index.arenaUsed / 2)) {
        RebuildAddressIndex();
        return;
    }
    g_index.head = g_addressList.head;
}

void RebuildAddressIndex() {
    if (!BuildFromList()) MarkBroken();
    g_index.head = g_addressList.head;
}

void ReleaseAddressIndex() {
    FreeIndex();
}

bool AddressIndexInStep() {
    return !g_index.broken && g_index.head == g_addressList.head;
}

bool IndexFindsAddress(const char* text) {
    if (g_index.emptyTexts) return true;
    if (!g_index.live) return false;
    const auto* start = reinterpret_cast<const unsigned char*>(text);
#ifdef QUORVEL_X86
    if (g_index.rawCount && g_index.avx2 && g_widest >= ScanWidth::kAvx2) return ScanAvx2(start);
    if (g_index.rawCount && g_index.sse2 && g_widest >= ScanWidth::kSse2) return ScanSse2(start);
#endif
    return ScanBytes(start);
}

size_t AddressIndexBytes() {
    const Index& ix = g_index;
    return sizeof ix + ix.arenaSize + size_t{ix.recordsSize} * sizeof(Record) +
           (ix.buckets ? (size_t{ix.bucketMask} + 1) * sizeof(uint32_t) : 0);
}

void LimitScanWidth(ScanWidth widest) {
    g_widest = widest;
}

void FailIndexAllocationsAfter(int successes) {
    g_allocationsLeft = successes < 0 ? -1 : successes;
}
