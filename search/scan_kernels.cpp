#include "search/scan_kernels.h"

#include <cstring>
#include <initializer_list>

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

const unsigned char* AddressEndPlain(const unsigned char* from, const unsigned char* end, long* firstZero) {
    const unsigned char* quote =
        static_cast<const unsigned char*>(std::memchr(from, '"', static_cast<std::size_t>(end - from)));
    const unsigned char* stop = quote ? quote : end;
    const void* zero = std::memchr(from, 0, static_cast<std::size_t>(stop - from));
    *firstZero = zero ? static_cast<const unsigned char*>(zero) - from : -1;
    return quote;
}

#ifdef TALVERON_X86_KERNELS

// The quote and zero bytes among 16 or 32 positions, as bit masks, for the
// address kernels below: the first quote ends the search; the first zero
// before it is noted.
inline const unsigned char* NoteAddressBits(const unsigned char* p, const unsigned char* from,
                                            const unsigned char* end, unsigned int quotes, unsigned int zeros,
                                            long* firstZero, bool* done) {
    long valid = end - p;  // bits at or past the end mean nothing
    if (valid < 32) {
        unsigned int keep = (1u << valid) - 1;
        quotes &= keep;
        zeros &= keep;
    }
    if (quotes) zeros &= (quotes & (0u - quotes)) - 1;  // only zeros before the first quote
    if (zeros && *firstZero < 0) *firstZero = (p - from) + __builtin_ctz(zeros);
    *done = quotes != 0 || valid <= 32;
    return quotes ? p + __builtin_ctz(quotes) : nullptr;
}

__attribute__((target("sse2"))) const unsigned char* AddressEndSse2(const unsigned char* from,
                                                                       const unsigned char* end, long* firstZero) {
    *firstZero = -1;
    for (const unsigned char* p = from; p < end; p += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned int quotes = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8('"'))));
        unsigned int zeros = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_setzero_si128())));
        bool done;
        const unsigned char* quote = NoteAddressBits(p, from, end, quotes, zeros, firstZero, &done);
        if (quote) return quote;
    }
    return nullptr;
}

__attribute__((target("avx2"))) const unsigned char* AddressEndAvx2(const unsigned char* from,
                                                                       const unsigned char* end, long* firstZero) {
    *firstZero = -1;
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i zero = _mm256_setzero_si256();
    for (const unsigned char* p = from; p < end; p += 32) {
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        unsigned int quotes = static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, quote)));
        unsigned int zeros = static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, zero)));
        if ((quotes | zeros) == 0) continue;
        bool done;
        const unsigned char* found = NoteAddressBits(p, from, end, quotes, zeros, firstZero, &done);
        if (found || done) return found;
    }
    return nullptr;
}

__attribute__((target("sse2"))) inline bool MatchesSse2(const unsigned char* p) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i lowered = _mm_or_si128(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kCaseBits)));
    __m128i equal = _mm_cmpeq_epi8(lowered, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOpening)));
    return _mm_movemask_epi8(equal) == 0xFFFF;
}

// Among the positions `bits` (bit i for p + i), the first '<' followed by
// '<' or beginning the anchor opening; the bits name '<' bytes that are
// followed by '<', or whose bytes 1, 2, 8 and 13 are those of the opening:
// "a" in any case, the space, the double quote, and the colon (which
// https, for one, lacks there).
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
        __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        __m128i b8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        __m128i b13 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 13));
        __m128i opening = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(b1, caseBit), _mm_set1_epi8('a')),
                          _mm_cmpeq_epi8(b2, _mm_set1_epi8(' '))),
            _mm_and_si128(_mm_cmpeq_epi8(b8, _mm_set1_epi8('"')), _mm_cmpeq_epi8(b13, _mm_set1_epi8(':'))));
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
    const __m256i space = _mm256_set1_epi8(' ');
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i colon = _mm256_set1_epi8(':');
    for (const unsigned char* p = from; p < limit; p += 32) {
        __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
        __m256i b8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8));
        __m256i b13 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 13));
        __m256i opening = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(b1, caseBit), a), _mm256_cmpeq_epi8(b2, space)),
            _mm256_and_si256(_mm256_cmpeq_epi8(b8, quote), _mm256_cmpeq_epi8(b13, colon)));
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
    const unsigned char* (*find)(const unsigned char*, const unsigned char*);
    const unsigned char* (*addressEnd)(const unsigned char*, const unsigned char*, long*);
    bool operator==(const Kernels& o) const { return find == o.find && addressEnd == o.addressEnd; }
};

Kernels KernelsFor(ScanKernel kernel) {
#ifdef TALVERON_X86_KERNELS
    if (kernel == ScanKernel::kAvx2) return {FindAvx2, AddressEndAvx2};
    if (kernel == ScanKernel::kSse2) return {FindSse2, AddressEndSse2};
#endif
    return {FindPlain, AddressEndPlain};
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

// Told by the functions the calls go to, not by a note kept beside them. The
// plain ones first: where there are no SIMD kernels, every kernel is plain.
ScanKernel CurrentScanKernel() {
    for (ScanKernel kernel : {ScanKernel::kPlain, ScanKernel::kSse2, ScanKernel::kAvx2})
        if (Current() == KernelsFor(kernel)) return kernel;
    return ScanKernel::kPlain;  // not reached: the calls always go to one kernel's functions
}

bool SelectScanKernel(ScanKernel kernel) {
    if (!CpuRuns(kernel)) return false;
    Current() = KernelsFor(kernel);
    return true;
}

const unsigned char* FindAnchorOrRun(const unsigned char* from, const unsigned char* limit) {
    return Current().find(from, limit);
}

const unsigned char* FindAddressEnd(const unsigned char* from, const unsigned char* end, long* firstZero) {
    return Current().addressEnd(from, end, firstZero);
}
