// Finding the index's addresses in a text: a scan for anchor bytes, 32 or 16 at a
// time where the processor has AVX2 or SSE2, else bytewise (chosen at run time),
// and a probe at each anchor byte found.
#include <cstdint>
#include <cstring>

#include "addresses/address_index.h"
#include "addresses/index_keys.h"
#include "addresses/index_state.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QUORVEL_X86 1
#endif

namespace {

#ifdef QUORVEL_TEST_SWITCHES
ScanWidth g_widest = ScanWidth::kAvx2;
bool ScanAllowed(ScanWidth width) {
    return width <= g_widest;
}
#else
constexpr bool ScanAllowed(ScanWidth) {
    return true;
}
#endif

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

uint64_t LowBytes(uint64_t bytes, unsigned count) {
    return count >= 8 ? bytes : bytes & ((uint64_t{1} << (8 * count)) - 1);
}

bool MatchesAt(const unsigned char* folded, uint32_t length, const unsigned char* at) {
    // The text's zero byte differs from every byte of an address, so this stops there.
    for (uint32_t i = 0; i < length; ++i) {
        if (kFold[at[i]] != folded[i]) return false;
    }
    return true;
}

// Whether an address with its anchor at `at`, in the text starting at start, occurs there.
bool Probe(const unsigned char* start, const unsigned char* at) {
    const AddressIndex& index = g_addressIndex;
    const unsigned char anchor = kFold[*at];
    if (!index.openEnded[anchor]) {
        if (at == start || !at[1]) return false;
        const unsigned pair = PairOf(kFold[at[-1]], kFold[at[1]]);
        if (!((index.pairs[pair / 64] >> (pair % 64)) & 1)) return false;
    }
    // The folded bytes around the anchor, as many as the shapes may take, gathered
    // once for all of them.
    const size_t reach = static_cast<size_t>(at - start);
    const auto haveBefore = static_cast<unsigned>(reach < kMaxBefore ? reach : kMaxBefore);
    uint64_t before = 0, after = anchor;
    for (unsigned i = 0; i < haveBefore; ++i) before |= uint64_t{kFold[*(at - 1 - i)]} << (8 * i);
    unsigned haveAfter = 0;
    while (haveAfter < kMaxAfter && at[haveAfter + 1]) {
        ++haveAfter;
        after |= uint64_t{kFold[at[haveAfter]]} << (8 * haveAfter);
    }
    for (uint32_t shapes = index.shapes[anchor]; shapes;) {
        const unsigned shape = static_cast<unsigned>(__builtin_ctz(shapes));
        shapes &= shapes - 1;
        const unsigned bytesBefore = BytesBefore(shape), bytesAfter = BytesAfter(shape);
        if (bytesBefore > haveBefore || bytesAfter > haveAfter) continue;
        const uint32_t hash =
            ShapeHash(LowBytes(before, bytesBefore), LowBytes(after, bytesAfter + 1), shape);
        for (uint32_t link = index.buckets[hash & index.bucketMask]; link;) {
            const IndexRecord& filed = index.records[link - 1];
            if (filed.hash == hash && filed.anchor <= reach &&
                MatchesAt(index.arena + filed.text, filed.length, at - filed.anchor)) {
                return true;
            }
            link = filed.next;
        }
    }
    return false;
}

bool ScanBytes(const unsigned char* start) {
    for (const unsigned char* at = start;; ++at) {
        const unsigned char stop = g_addressIndex.stops[*at];
        if (!stop) continue;
        if (stop == 2) return false;
        if (Probe(start, at)) return true;
    }
}

#ifdef QUORVEL_X86
// The vector scan for one vector width. Ops holds the anchor bytes spread over
// vectors and tells for an aligned block which bytes are anchors and which are
// zero, a bit per byte. Whole aligned blocks never cross into another page, so
// the scan may read past the text's zero byte but never faults (hence no address
// sanitizer). Ops' members carry the instruction set's target; the scan is
// inlined into a function that carries it too, so that they are inlined in turn.
template <typename Ops>
__attribute__((always_inline, no_sanitize_address)) inline bool ScanVectors(
    const unsigned char* start) {
    constexpr uint32_t kAllBytes =
        Ops::kWidth == 32 ? ~uint32_t{0} : (uint32_t{1} << Ops::kWidth) - 1;
    const Ops ops(g_addressIndex.vectorAnchors, g_addressIndex.vectorAnchorCount);
    const uintptr_t offset = reinterpret_cast<uintptr_t>(start) & (Ops::kWidth - 1);
    const unsigned char* block = start - offset;
    uint32_t keep = (kAllBytes << offset) & kAllBytes;
    for (;; block += Ops::kWidth, keep = kAllBytes) {
        uint32_t zeros;
        uint32_t hits = ops.Anchors(block, &zeros) & keep;
        const uint32_t end = zeros & keep;
        if (end) hits &= (end & (0u - end)) - 1;  // only those before the zero byte
        while (hits) {
            const unsigned i = static_cast<unsigned>(__builtin_ctz(hits));
            hits &= hits - 1;
            if (Probe(start, block + i)) return true;
        }
        if (end) return false;
    }
}

class Sse2Ops {
  public:
    static constexpr unsigned kWidth = 16;
    __attribute__((target("sse2"))) Sse2Ops(const unsigned char* anchors, unsigned count)
        : count_(count) {
        for (unsigned i = 0; i < count; ++i)
            anchors_[i] = _mm_set1_epi8(static_cast<char>(anchors[i]));
    }
    __attribute__((target("sse2"), no_sanitize_address)) uint32_t Anchors(
        const unsigned char* block, uint32_t* zeros) const {
        const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        __m128i hit = _mm_cmpeq_epi8(bytes, anchors_[0]);
        for (unsigned i = 1; i < count_; ++i)
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(bytes, anchors_[i]));
        *zeros =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        return static_cast<uint32_t>(_mm_movemask_epi8(hit));
    }

  private:
    __m128i anchors_[kMaxVectorAnchors];
    unsigned count_;
};

class Avx2Ops {
  public:
    static constexpr unsigned kWidth = 32;
    __attribute__((target("avx2"))) Avx2Ops(const unsigned char* anchors, unsigned count)
        : count_(count) {
        for (unsigned i = 0; i < count; ++i)
            anchors_[i] = _mm256_set1_epi8(static_cast<char>(anchors[i]));
    }
    __attribute__((target("avx2"), no_sanitize_address)) uint32_t Anchors(
        const unsigned char* block, uint32_t* zeros) const {
        const __m256i bytes = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
        __m256i hit = _mm256_cmpeq_epi8(bytes, anchors_[0]);
        for (unsigned i = 1; i < count_; ++i)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(bytes, anchors_[i]));
        *zeros = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256())));
        return static_cast<uint32_t>(_mm256_movemask_epi8(hit));
    }

  private:
    __m256i anchors_[kMaxVectorAnchors];
    unsigned count_;
};

__attribute__((target("sse2"), no_sanitize_address)) bool ScanSse2(const unsigned char* start) {
    return ScanVectors<Sse2Ops>(start);
}

__attribute__((target("avx2"), no_sanitize_address)) bool ScanAvx2(const unsigned char* start) {
    return ScanVectors<Avx2Ops>(start);
}
#endif

}  // namespace

void PrepareScan() {
    AddressIndex& index = g_addressIndex;
    std::memset(index.stops, 0, sizeof index.stops);
    index.stops[0] = 2;
    index.vectorAnchorCount = 0;
    bool fits = true;
    for (int byte = 0; byte < 256; ++byte) {
        if (!index.anchorCount[byte]) continue;
        const bool letter = byte >= 'a' && byte <= 'z';
        index.stops[byte] = 1;
        if (letter) index.stops[byte - 32] = 1;
        if (index.vectorAnchorCount + (letter ? 2 : 1) > kMaxVectorAnchors) fits = false;
        if (!fits) continue;
        index.vectorAnchors[index.vectorAnchorCount++] = static_cast<unsigned char>(byte);
        if (letter)
            index.vectorAnchors[index.vectorAnchorCount++] = static_cast<unsigned char>(byte - 32);
    }
    if (!fits) index.vectorAnchorCount = 0;
    index.sse2 = HasSse2();
    index.avx2 = HasAvx2();
}

bool IndexFindsAddress(const char* text) {
    const AddressIndex& index = g_addressIndex;
    if (index.emptyTexts) return true;
    if (!index.live) return false;
    const auto* start = reinterpret_cast<const unsigned char*>(text);
#ifdef QUORVEL_X86
    if (index.vectorAnchorCount && index.avx2 && ScanAllowed(ScanWidth::kAvx2))
        return ScanAvx2(start);
    if (index.vectorAnchorCount && index.sse2 && ScanAllowed(ScanWidth::kSse2))
        return ScanSse2(start);
#endif
    return ScanBytes(start);
}

#ifdef QUORVEL_TEST_SWITCHES
void LimitScanWidth(ScanWidth widest) {
    g_widest = widest;
}
#endif
