// The records gathered: made in place in one buffer and handed to the sink
// in large pieces, not one at a time.
#include "search/searcher.h"

char* Searcher::BeginRecord() {
    if (used_ + kRecordBufferSize + 2 > kRecordsSize) WriteGathered();
    return records_.get() + used_;
}

void Searcher::EndRecord(int length) {
    // Two bytes are stored either way; with LF alone the second is the next
    // record's first.
    char* end = records_.get() + used_ + length;
    end[0] = lineEnd_[0];
    end[1] = lineEnd_[1];
    used_ += static_cast<unsigned int>(length) + lineEndLength_;
}

void Searcher::WriteGathered() {
    if (used_ == 0) return;
    unsigned int used = used_;
    used_ = 0;
    if (!sink_.Records(records_.get(), used)) throw Stop();
}

void Searcher::AbandonGathered() {
    unsigned int used = used_;
    used_ = 0;
    if (used) sink_.Abandoned(records_.get(), used);
}
