// The module's fixed capacities, the same for the export and the library.
#ifndef TALVERON_LIFECYCLE_LIMITS_H
#define TALVERON_LIFECYCLE_LIMITS_H

// Keyword slots, filled from the keyword line split at its spaces.
constexpr int kKeywordSlots = 6;
// Bytes of the keyword line that a search reads (the rest is dropped), and
// its buffer with the closing 0 byte.
constexpr int kKeywordLineMax = 255;
constexpr int kKeywordLineCapacity = kKeywordLineMax + 1;
// An address becomes a record only when it is at most kMaxAddress bytes
// long; the record buffer holds that and its 0 byte.
constexpr int kRecordBufferSize = 500;
constexpr int kMaxAddress = kRecordBufferSize - 1;

#endif
