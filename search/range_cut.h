// Where a file may be cut into ranges searched at once.
#ifndef TALVERON_SEARCH_RANGE_CUT_H
#define TALVERON_SEARCH_RANGE_CUT_H

// The first position c in [near, near + window) of the file open on `fd` at
// which a search of the whole file certainly begins a skip for the next
// '<': no '<' in the kCutClearance bytes before c, and a double quote among
// the kOpeningLength bytes before c. Then any anchor before c opened before
// that quote, so its address has ended by it, and every comparison of a '<'
// before c failed behind c. -1 when there is none, or a read failed.
long long FindRangeCut(int fd, long long near, long long window);

// Twice the opening: an anchor whose '<' lies this far before c has its
// address begin before the quote.
constexpr int kCutClearance = 32;

#endif
