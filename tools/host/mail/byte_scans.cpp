#include "tools/host/mail/byte_scans.h"

#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QUORVEL_X86 1
#endif

namespace {

const char* FindByteInWords(const char* data, const char* end, char c) {
    while (data < end && reinterpret_cast<uintptr_t>(data) % sizeof(size_t) != 0) {
        if (*data == c) return data;
        ++data;
    }
    // A word holds c where word ^ pattern has a zero byte; the test for one
    // is exact about whether there is one, not about where.
    constexpr size_t kOnes = ~size_t{0} / 0xFF;
    constexpr size_t kHighs = kOnes * 0x80;
    const size_t pattern = kOnes * static_cast<unsigned char>(c);
    for (; static_cast<size_t>(end - data) >= sizeof(size_t); data += sizeof(size_t)) {
        size_t word;
        std::memcpy(&word, data, sizeof word);
        word ^= pattern;
        if ((word - kOnes) & ~word & kHighs) break;
    }
    for (; data < end; ++data) {
        if (*data == c) return data;
    }
    return nullptr;
}

const char* FindLineEndInWords(const char* data, const char* end) {
    while (data < end && reinterpret_cast<uintptr_t>(data) % sizeof(size_t) != 0) {
        if (*data == '\n' || *data == '\r') return data;
        ++data;
    }
    constexpr size_t kOnes = ~size_t{0} / 0xFF;
    constexpr size_t kHighs = kOnes * 0x80;
    for (; static_cast<size_t>(end - data) >= sizeof(size_t); data += sizeof(size_t)) {
        size_t word;
        std::memcpy(&word, data, sizeof word);
        const size_t lf = word ^ (kOnes * '\n');
        const size_t cr = word ^ (kOnes * '\r');
        if (((lf - kOnes) & ~lf & kHighs) | ((cr - kOnes) & ~cr & kHighs)) break;
    }
    for (; data < end; ++data) {
        if (*data == '\n' || *data == '\r') return data;
    }
    return nullptr;
}

const char* NextPossibleSeparatorInWords(const char* line, const char* end) {
    while (end - line >= 5 && !IsFromLine(line, 5)) {
        const char* lf = FindByteInWords(line, end, '\n');
        if (!lf) break;
        line = lf + 1;
    }
    return line;
}

#ifdef QUORVEL_X86
bool HasSse2() {
#if defined(__x86_64__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

bool g_hasSse2 = HasSse2();

__attribute__((target("sse2"))) const char* FindByteSse2(const char* data, const char* end,
                                                         char c) {
    const __m128i pattern = _mm_set1_epi8(c);
    for (; end - data >= 16; data += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern));
        if (hits != 0) return data + __builtin_ctz(static_cast<unsigned>(hits));
    }
    return FindByteInWords(data, end, c);
}

__attribute__((target("sse2"))) const char* FindLineEndSse2(const char* data, const char* end) {
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; end - data >= 16; data += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const int hits =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)));
        if (hits != 0) return data + __builtin_ctz(static_cast<unsigned>(hits));
    }
    return FindLineEndInWords(data, end);
}

// Every line feed of a 16-byte block judged at once: bodies are mostly short lines.
__attribute__((target("sse2"))) const char* NextPossibleSeparatorSse2(const char* line,
                                                                      const char* end) {
    if (end - line < 5 || IsFromLine(line, 5)) return line;
    const __m128i pattern = _mm_set1_epi8('\n');
    const char* at = line;
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        for (unsigned hits =
                 static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
             hits != 0; hits &= hits - 1) {
            line = at + __builtin_ctz(hits) + 1;
            if (end - line < 5 || IsFromLine(line, 5)) return line;
        }
    }
    for (; at < end; ++at) {
        if (*at != '\n') continue;
        line = at + 1;
        if (end - line < 5 || IsFromLine(line, 5)) return line;
    }
    return line;
}
#endif

}  // namespace

const char* FindByte(const char* data, size_t size, char c) {
#ifdef QUORVEL_X86
    if (g_hasSse2) return FindByteSse2(data, data + size, c);
#endif
    return FindByteInWords(data, data + size, c);
}

const char* FindLineEnd(const char* data, size_t size) {
#ifdef QUORVEL_X86
    if (g_hasSse2) return FindLineEndSse2(data, data + size);
#endif
    return FindLineEndInWords(data, data + size);
}

void UseWideScans(bool wide) {
#ifdef QUORVEL_X86
    g_hasSse2 = wide && HasSse2();
#else
    (void)wide;
#endif
}

const char* NextPossibleSeparator(const char* data, const char* end) {
#ifdef QUORVEL_X86
    if (g_hasSse2) return NextPossibleSeparatorSse2(data, end);
#endif
    return NextPossibleSeparatorInWords(data, end);
}
