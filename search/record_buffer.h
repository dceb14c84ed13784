// The records gathered: made in place in one buffer and handed to the sink
// in large pieces, not one at a time.
#ifndef TALVERON_SEARCH_RECORD_BUFFER_H
#define TALVERON_SEARCH_RECORD_BUFFER_H

#include <memory>

#include "search/search_sink.h"

// Thrown when the sink refuses records: the search stops.
struct RecordsRefused {};

class RecordBuffer {
public:
    // Records end in LF alone when `lfLineEnds`, else CR LF. Throws
    // std::bad_alloc when the buffer cannot be had.
    RecordBuffer(SearchSink& sink, bool lfLineEnds);
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    // Room for one record of up to kRecordBufferSize bytes (its 0 byte
    // included), handing over what is gathered first when it would not fit.
    char* Begin();
    // Ends the record begun with its first `length` bytes and the line end.
    void End(int length);
    // Hands what is gathered to the sink; throws RecordsRefused when it
    // refuses them.
    void Write();
    // Hands what is gathered to the sink's Abandoned.
    void Abandon();

private:
    static constexpr unsigned int kSize = 64 * 1024;

    SearchSink& sink_;
    std::unique_ptr<char[]> records_;
    unsigned int used_ = 0;
    char lineEnd_[2];
    unsigned int lineEndLength_;
};

#endif
