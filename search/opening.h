// The anchor opening that every search looks for, ASCII letters in any case.
// The scan, its byte-at-a-time comparison and the kernels all take it from
// here.
#ifndef TALVERON_SEARCH_OPENING_H
#define TALVERON_SEARCH_OPENING_H

constexpr int kOpeningLength = 16;
// Written in lower case: lower-casing a byte read is the whole case rule.
constexpr unsigned char kOpening[kOpeningLength] = {'<', 'a', ' ', 'h', 'r', 'e', 'f', '=',
                                                    '"', 'h', 't', 't', 'p', ':', '/', '/'};

// The bit that lower-cases the opening's byte `i`: 0x20 where it is a letter,
// else 0 (that byte must be met exactly).
constexpr unsigned char OpeningCaseBit(int i) {
    return kOpening[i] >= 'a' && kOpening[i] <= 'z' ? 0x20 : 0;
}

// The https opening that a search takes as well when asked: the same, with
// "https" for "http".
constexpr int kHttpsOpeningLength = 17;
constexpr unsigned char kHttpsOpening[kHttpsOpeningLength] = {'<', 'a', ' ', 'h', 'r', 'e', 'f', '=', '"',
                                                              'h', 't', 't', 'p', 's', ':', '/', '/'};
constexpr unsigned char HttpsCaseBit(int i) {
    return kHttpsOpening[i] >= 'a' && kHttpsOpening[i] <= 'z' ? 0x20 : 0;
}

// The part of an opening that begins the address: "http://" or "https://".
constexpr int kSchemeOffset = 9;

// Bytes of the opening that the SIMD kernels test first, at once for many
// positions, before comparing a candidate whole: letters are tested with
// their case bit set. Any byte of the opening will do; these are the ones
// that ordinary markup rarely has in these places. The first three are the
// https opening's as well; the last, the "p" of either scheme, stands in for
// the fourth where both openings are looked for at once.
constexpr int kOpeningProbes[] = {1, 2, 8, 13, 12};

#endif
