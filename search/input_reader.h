// The input reader: hands the input file g_nInFile to the search one byte at a
// time, as if each byte were one read of length 1 at the file's position, but
// reads the file in large blocks.
//
// The position that the search sees is the count of bytes delivered, moved
// back by InputSeekBack; InputEof and InputSeekBack refer to that position,
// never to how far the file has been read. Nothing is remembered about the end
// of the input: every read attempted there asks the file again. A read that
// fails delivers no byte; from then on the reader reads nothing more and
// InputEof reports -1.
#ifndef TALVERON_SEARCH_INPUT_READER_H
#define TALVERON_SEARCH_INPUT_READER_H

#include "framework/cstring.h"

constexpr unsigned int kInputBlockSize = 128 * 1024;
// Bytes already delivered that a refill keeps in front of the new block, so
// that a move back of up to this many bytes stays inside the buffer.
constexpr unsigned int kInputKeepBehind = 16;

// Bytes after a block that a kernel may read (and ignore).
constexpr unsigned int kInputPadding = 64;

// What g_strStatus should hold after the last delivery.
constexpr int kLastWasEnd = -1;       // a read found the end: "File End"
constexpr int kLastWasStatus = -2;    // g_strStatus was set by someone else since
constexpr int kLastWasRecord = -3;    // a record was added since (see FlushOutput)

struct InputBuffer {
    const unsigned char* pos;  // next byte to deliver
    const unsigned char* end;  // end of the bytes read so far
    int last;                  // last byte delivered (0..255), or kLastWas...
    bool failed;               // a read failed
    int error;                 // and its errno
    bool endIsFinal;           // a read that found the end is not made again
    bool ended;                // and one did
    long long dataOffset;      // the input offset of data[0]
    unsigned int blockSize;    // bytes asked for per read
    // The block, behind the bytes kept, and room that kernels may read past
    // the block's end (its content there means nothing).
    unsigned char data[kInputKeepBehind + kInputBlockSize + kInputPadding];
};
extern InputBuffer g_input;

// Starts reading g_nInFile from its beginning. As the export reads, every
// read at the end asks the file again; with `endIsFinal` the first end found
// is the end (a terminal then needs one end-of-file key, not several).
void BeginInput(bool endIsFinal = false);

// Called when every byte read has been delivered: writes out the records
// gathered, then reads the next block.
// Returns false at the end of the input or after a failed read.
bool RefillInput();

// The next byte (0 at the end of the input); g_strStatus is brought up to date
// lazily by SyncInputStatus.
inline int NextInputByte() {
    if (g_input.pos == g_input.end && !RefillInput()) {
        g_input.last = kLastWasEnd;
        return 0;
    }
    return g_input.last = *g_input.pos++;
}

// 0 while bytes remain behind the position, 1 at the end, -1 after a failed read.
int InputEofAfterBlock();
inline int InputEof() { return g_input.pos != g_input.end ? 0 : InputEofAfterBlock(); }

// The input offset of the next byte to deliver.
inline long long InputOffset() { return g_input.dataOffset + (g_input.pos - g_input.data); }

// Moves the position back by `count` bytes (at most kInputKeepBehind).
void InputSeekBack(int count);

// Sets g_strStatus to what the last delivery leaves there: the one-character
// string of the byte (empty for the byte 0), or "File End".
void SyncInputStatus();

// Marks g_strStatus as set by its writer, so that SyncInputStatus keeps it
// until the next byte is delivered.
inline void NoteStatusSet() { g_input.last = kLastWasStatus; }

// One byte as a new string: the byte as a one-character string (empty for the
// byte 0), or the empty string at the end of the input. Sets g_strStatus.
CString ReadInputChar();

// Bytes asked for per read, 1..kInputBlockSize (tests use small blocks to put
// block boundaries everywhere).
void SetInputBlockSize(unsigned int size);

#endif
