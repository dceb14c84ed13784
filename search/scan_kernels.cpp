#include "search/scan_kernels.h"

#include <cstdint>
#include <cstring>
#include <atomic>
#include <initializer_list>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TALVERON_X86_KERNELS 1
#include <immintrin.h>
#endif

#include "search/opening.h"

namespace {

template <int... I>
struct CaseBitsOf {
    static constexpr unsigned char bytes[sizeof...(I)] = {OpeningCaseBit(I)...};
};
template <int... I>
struct HttpsCaseBitsOf {
    static constexpr unsigned char bytes[sizeof...(I)] = {HttpsCaseBit(I)...};
};
// The bits that lower-case each byte of the opening, as one 16-byte row, and
// those of the https opening's first 16 bytes.
constexpr const unsigned char* kCaseBits = CaseBitsOf<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>::bytes;
constexpr const unsigned char* kHttpsCaseBits =
    HttpsCaseBitsOf<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>::bytes;
static_assert(kOpeningLength == 16, "the kernels compare the opening as one 16-byte row");

// A probe byte as the kernels compare it: with its case bit set.
constexpr unsigned char Probe(int k) { return kOpening[kOpeningProbes[k]] | OpeningCaseBit(kOpeningProbes[k]); }
constexpr unsigned char ProbeCase(int k) { return OpeningCaseBit(kOpeningProbes[k]); }

bool MatchesHttpPlain(const unsigned char* p) {
    for (int i = 0; i < kOpeningLength; ++i)
        if ((p[i] | kCaseBits[i]) != kOpening[i]) return false;
    return true;
}

bool MatchesHttpsPlain(const unsigned char* p) {
    for (int i = 0; i < kHttpsOpeningLength; ++i)
        if ((p[i] | HttpsCaseBit(i)) != kHttpsOpening[i]) return false;
    return true;
}

// What a kernel looks for: the http opening; both openings; or the http
// opening, the https openings passed over being counted.
enum Openings { kHttpOnly, kBoth, kHttpCountingHttps };

template <int O>
const unsigned char* FindPlain(const unsigned char* from, const unsigned char* limit, long long* https) {
    for (const unsigned char* p = from; p < limit;) {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(limit - p));
        if (!lt) return nullptr;
        p = static_cast<const unsigned char*>(lt);
        if (p[1] == '<' || MatchesHttpPlain(p)) return p;
        if (O != kHttpOnly && MatchesHttpsPlain(p)) {
            if (O == kBoth) return p;
            ++*https;
        }
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

inline bool KeptInJson(unsigned char b) { return b >= 0x20 && b < 0x80 && b != '"' && b != '\\'; }

// Eight bytes at a time: whether any of the word's bytes is not kept as it
// is. A borrow of the tests below comes only from a byte that is not, so
// the answer for the word is exact.
const unsigned char* JsonEscapePlain(const unsigned char* p, const unsigned char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        std::uint64_t control = (w - kOnes * 0x20) & ~w;
        std::uint64_t q = w ^ (kOnes * '"');
        std::uint64_t quote = (q - kOnes) & ~q;
        std::uint64_t b = w ^ (kOnes * '\\');
        std::uint64_t backslash = (b - kOnes) & ~b;
        if ((w | control | quote | backslash) & kHighs) break;
    }
    while (p < end && KeptInJson(*p)) ++p;
    return p;
}

#ifdef TALVERON_X86_KERNELS

__attribute__((target("sse2"))) const unsigned char* JsonEscapeSse2(const unsigned char* p,
                                                                       const unsigned char* end) {
    // As signed bytes, those below 0x20 are the control bytes and those above 0x7F.
    const __m128i space = _mm_set1_epi8(0x20), quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i odd = _mm_or_si128(_mm_cmplt_epi8(b, space),
                                   _mm_or_si128(_mm_cmpeq_epi8(b, quote), _mm_cmpeq_epi8(b, backslash)));
        if (unsigned int bits = static_cast<unsigned int>(_mm_movemask_epi8(odd))) return p + __builtin_ctz(bits);
    }
    return JsonEscapePlain(p, end);
}

__attribute__((target("avx2"))) const unsigned char* JsonEscapeAvx2(const unsigned char* p,
                                                                       const unsigned char* end) {
    const __m256i space = _mm256_set1_epi8(0x20), quote = _mm256_set1_epi8('"'),
                  backslash = _mm256_set1_epi8('\\');
    for (; end - p >= 32; p += 32) {
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        __m256i odd = _mm256_or_si256(_mm256_cmpgt_epi8(space, b),
                                      _mm256_or_si256(_mm256_cmpeq_epi8(b, quote), _mm256_cmpeq_epi8(b, backslash)));
        if (unsigned int bits = static_cast<unsigned int>(_mm256_movemask_epi8(odd))) return p + __builtin_ctz(bits);
    }
    return JsonEscapeSse2(p, end);
}

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

// For each of 16 or 32 positions from p: whether its probe byte k is the
// opening's (compared with its case bit set).
template <int K>
__attribute__((target("sse2"))) inline __m128i ProbeSse2(const unsigned char* p) {
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kOpeningProbes[K]));
    if (ProbeCase(K)) b = _mm_or_si128(b, _mm_set1_epi8(static_cast<char>(ProbeCase(K))));
    return _mm_cmpeq_epi8(b, _mm_set1_epi8(static_cast<char>(Probe(K))));
}
template <int K>
__attribute__((target("avx2"))) inline __m256i ProbeAvx2(const unsigned char* p) {
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + kOpeningProbes[K]));
    if (ProbeCase(K)) b = _mm256_or_si256(b, _mm256_set1_epi8(static_cast<char>(ProbeCase(K))));
    return _mm256_cmpeq_epi8(b, _mm256_set1_epi8(static_cast<char>(Probe(K))));
}

// True when the 16 bytes at p are `opening`'s, letters in any case.
__attribute__((target("sse2"))) inline bool Matches16(const unsigned char* p, const unsigned char* opening,
                                                       const unsigned char* caseBits) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i lowered = _mm_or_si128(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(caseBits)));
    __m128i equal = _mm_cmpeq_epi8(lowered, _mm_loadu_si128(reinterpret_cast<const __m128i*>(opening)));
    return _mm_movemask_epi8(equal) == 0xFFFF;
}

__attribute__((target("sse2"))) inline bool MatchesHttpsSse2(const unsigned char* p) {
    return Matches16(p, kHttpsOpening, kHttpsCaseBits) && p[16] == kHttpsOpening[16];
}

// Among the positions `bits` (bit i for p + i), the first '<' followed by
// '<' or beginning an anchor opening looked for; the bits name '<' bytes
// that are followed by '<', or whose probe bytes (kOpeningProbes) are the
// opening's. Counted https openings before `limit` are counted on the way.
template <int O>
__attribute__((target("sse2"))) inline const unsigned char* FirstOf(const unsigned char* p, unsigned int bits,
                                                                     const unsigned char* limit, long long* https) {
    for (; bits; bits &= bits - 1) {
        const unsigned char* at = p + __builtin_ctz(bits);
        if (at[1] == '<' || Matches16(at, kOpening, kCaseBits)) return at;
        if (O != kHttpOnly && MatchesHttpsSse2(at)) {
            if (O == kBoth) return at;
            if (at < limit) ++*https;
        }
    }
    return nullptr;
}

template <int O>
__attribute__((target("sse2"))) const unsigned char* FindSse2(const unsigned char* from, const unsigned char* limit,
                                                                 long long* https) {
    const __m128i lt = _mm_set1_epi8('<');
    for (const unsigned char* p = from; p < limit; p += 16) {
        __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i isLt = _mm_cmpeq_epi8(b0, lt);
        if (_mm_movemask_epi8(isLt) == 0) continue;
        __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        // The probes that both openings share, and the fourth by the openings
        // looked for.
        __m128i opening = _mm_and_si128(_mm_and_si128(ProbeSse2<0>(p), ProbeSse2<1>(p)), ProbeSse2<2>(p));
        opening = _mm_and_si128(opening, O == kHttpOnly ? ProbeSse2<3>(p) : ProbeSse2<4>(p));
        __m128i next = _mm_or_si128(_mm_cmpeq_epi8(b1, lt), opening);
        unsigned int bits = static_cast<unsigned int>(_mm_movemask_epi8(_mm_and_si128(isLt, next)));
        if (const unsigned char* hit = FirstOf<O>(p, bits, limit, https)) return hit < limit ? hit : nullptr;
    }
    return nullptr;
}

template <int O>
__attribute__((target("avx2"))) const unsigned char* FindAvx2(const unsigned char* from, const unsigned char* limit,
                                                                 long long* https) {
    const __m256i lt = _mm256_set1_epi8('<');
    for (const unsigned char* p = from; p < limit; p += 32) {
        __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        __m256i opening = _mm256_and_si256(_mm256_and_si256(ProbeAvx2<0>(p), ProbeAvx2<1>(p)), ProbeAvx2<2>(p));
        opening = _mm256_and_si256(opening, O == kHttpOnly ? ProbeAvx2<3>(p) : ProbeAvx2<4>(p));
        __m256i next = _mm256_or_si256(_mm256_cmpeq_epi8(b1, lt), opening);
        unsigned int bits =
            static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(b0, lt), next)));
        if (bits)
            if (const unsigned char* hit = FirstOf<O>(p, bits, limit, https)) return hit < limit ? hit : nullptr;
    }
    return nullptr;
}

bool RunsAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool RunsSse2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}

#endif

bool RunsEverywhere() { return true; }
#ifndef TALVERON_X86_KERNELS
bool RunsNowhere() { return false; }
#endif

// A kernel's three forms, for the table.
template <const unsigned char* (*Find)(const unsigned char*, const unsigned char*, long long*)>
const unsigned char* Uncounted(const unsigned char* from, const unsigned char* limit) {
    return Find(from, limit, nullptr);
}
#define TALVERON_KERNEL_FORMS(Find) Uncounted<Find<kHttpOnly>>, Uncounted<Find<kBoth>>, Find<kHttpCountingHttps>

// The kernels, by ScanKernel. A kernel the build lacks is the plain one,
// which the CPU is never said to run in its place.
const ScanKernels kKernels[] = {
    {"plain", RunsEverywhere, TALVERON_KERNEL_FORMS(FindPlain), AddressEndPlain, JsonEscapePlain},
#ifdef TALVERON_X86_KERNELS
    {"sse2", RunsSse2, TALVERON_KERNEL_FORMS(FindSse2), AddressEndSse2, JsonEscapeSse2},
    {"avx2", RunsAvx2, TALVERON_KERNEL_FORMS(FindAvx2), AddressEndAvx2, JsonEscapeAvx2},
#else
    {"sse2", RunsNowhere, TALVERON_KERNEL_FORMS(FindPlain), AddressEndPlain, JsonEscapePlain},
    {"avx2", RunsNowhere, TALVERON_KERNEL_FORMS(FindPlain), AddressEndPlain, JsonEscapePlain},
#endif
};

const ScanKernels& Of(ScanKernel kernel) { return kKernels[static_cast<int>(kernel)]; }

// The choice of kernel: the best, made at the first search; tests may choose another.
std::atomic<ScanKernel>& Choice() {
    static std::atomic<ScanKernel> choice{BestScanKernel()};
    return choice;
}

}  // namespace

ScanKernel BestScanKernel() {
    for (ScanKernel kernel : {ScanKernel::kAvx2, ScanKernel::kSse2})
        if (Of(kernel).supported()) return kernel;
    return ScanKernel::kPlain;
}

ScanKernel CurrentScanKernel() { return Choice().load(std::memory_order_relaxed); }

bool SelectScanKernel(ScanKernel kernel) {
    if (!Of(kernel).supported()) return false;
    Choice().store(kernel, std::memory_order_relaxed);
    return true;
}

const ScanKernels& CurrentScanKernels() { return Of(CurrentScanKernel()); }
