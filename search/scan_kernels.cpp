#include "search/scan_kernels.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TALVERON_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

const unsigned char kOpening[16] = {'<', 'a', ' ', 'h', 'r', 'e', 'f', '=',
                                    '"', 'h', 't', 't', 'p', ':', '/', '/'};
// The bits that lower-case each byte of the opening: 0x20 where the opening
// holds a letter. Every other byte of the opening must be met exactly.
const unsigned char kCaseBits[16] = {0, 0x20, 0, 0x20, 0x20, 0x20, 0x20, 0, 0, 0x20, 0x20, 0x20, 0x20, 0, 0, 0};

bool MatchesPlain(const unsigned char* p) {
    for (int i = 0; i < 16; ++i)
        if ((p[i] | kCaseBits[i]) != kOpening[i]) return false;
    return true;
}

const unsigned char* FindPlain(const unsigned char* from, const unsigned char* limit) {
    for (const unsigned char* p = from; p < limit;) {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(limit - p));
        if (!lt) return nullptr;
        p = static_cast<const unsigned char*>(lt);
        if (p[1] == '<' || MatchesPlain(p)) return p;
        ++p;
    }
    return nullptr;
}

#ifdef TALVERON_X86_KERNELS

__attribute__((target("sse2"))) inline bool MatchesSse2(const unsigned char* p) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i lowered = _mm_or_si128(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kCaseBits)));
    __m128i equal = _mm_cmpeq_epi8(lowered, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOpening)));
    return _mm_movemask_epi8(equal) == 0xFFFF;
}

// Among the positions `bits` (bit i for p + i), the first '<' followed by
// '<' or beginning the anchor opening; the bits name '<' bytes that are
// followed by '<', or whose bytes 1, 3 and 13 are those of the opening
// ("a", "h" in any case, and the colon that https lacks there).
__attribute__((target("sse2"))) inline const unsigned char* FirstOf(const unsigned char* p, unsigned int bits) {
    for (; bits; bits &= bits - 1) {
        const unsigned char* at = p + __builtin_ctz(bits);
        if (at[1] == '<' || MatchesSse2(at)) return at;
    }
    return nullptr;
}

__attribute__((target("sse2"))) const unsigned char* FindSse2(const unsigned char* from,
                                                                 const unsigned char* limit) {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (const unsigned char* p = from; p < limit; p += 16) {
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i isLt = _mm_cmpeq_epi8(b0, lt);
        if (_mm_movemask_epi8(isLt) == 0) continue;
        __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        __m128i b3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3));
        __m128i b13 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 13));
        __m128i opening = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(b1, caseBit), _mm_set1_epi8('a')),
                          _mm_cmpeq_epi8(b13, _mm_set1_epi8(':'))),
            _mm_cmpeq_epi8(_mm_or_si128(b3, caseBit), _mm_set1_epi8('h')));
        __m128i next = _mm_or_si128(_mm_cmpeq_epi8(b1, lt), opening);
        unsigned int bits = static_cast<unsigned int>(_mm_movemask_epi8(_mm_and_si128(isLt, next)));
        if (const unsigned char* hit = FirstOf(p, bits)) return hit < limit ? hit : nullptr;
    }
    return nullptr;
}

__attribute__((target("avx2"))) const unsigned char* FindAvx2(const unsigned char* from,
                                                                 const unsigned char* limit) {
    const __m256i lt = _mm256_set1_epi8('<');
    const __m256i caseBit = _mm256_set1_epi8(0x20);
    const __m256i a = _mm256_set1_epi8('a');
    const __m256i h = _mm256_set1_epi8('h');
    const __m256i colon = _mm256_set1_epi8(':');
    for (const unsigned char* p = from; p < limit; p += 32) {
        __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        __m256i b3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 3));
        __m256i b13 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 13));
        __m256i opening = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(b1, caseBit), a), _mm256_cmpeq_epi8(b13, colon)),
            _mm256_cmpeq_epi8(_mm256_or_si256(b3, caseBit), h));
        __m256i next = _mm256_or_si256(_mm256_cmpeq_epi8(b1, lt), opening);
        unsigned int bits =
            static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(b0, lt), next)));
        if (bits)
            if (const unsigned char* hit = FirstOf(p, bits)) return hit < limit ? hit : nullptr;
    }
    return nullptr;
}

bool CpuRuns(ScanKernel kernel) {
    __builtin_cpu_init();
    switch (kernel) {
        case ScanKernel::kAvx2: return __builtin_cpu_supports("avx2");
        case ScanKernel::kSse2: return __builtin_cpu_supports("sse2");
        default: return true;
    }
}

#else

bool CpuRuns(ScanKernel kernel) { return kernel == ScanKernel::kPlain; }

#endif

struct Kernels {
    ScanKernel kernel;
    const unsigned char* (*find)(const unsigned char*, const unsigned char*);
    bool (*matches)(const unsigned char*);
};

Kernels KernelsFor(ScanKernel kernel) {
#ifdef TALVERON_X86_KERNELS
    if (kernel == ScanKernel::kAvx2) return {kernel, FindAvx2, MatchesSse2};
    if (kernel == ScanKernel::kSse2) return {kernel, FindSse2, MatchesSse2};
#endif
    return {ScanKernel::kPlain, FindPlain, MatchesPlain};
}

Kernels& Current() {
    static Kernels kernels = KernelsFor(BestScanKernel());
    return kernels;
}

}  // namespace

ScanKernel BestScanKernel() {
    if (CpuRuns(ScanKernel::kAvx2)) return ScanKernel::kAvx2;
    if (CpuRuns(ScanKernel::kSse2)) return ScanKernel::kSse2;
    return ScanKernel::kPlain;
}

ScanKernel CurrentScanKernel() { return Current().kernel; }

bool SelectScanKernel(ScanKernel kernel) {
    if (!CpuRuns(kernel)) return false;
    Current() = KernelsFor(kernel);
    return true;
}

const unsigned char* FindAnchorOrRun(const unsigned char* from, const unsigned char* limit) {
    return Current().find(from, limit);
}

bool MatchesAnchorOpening(const unsigned char* p) { return Current().matches(p); }
