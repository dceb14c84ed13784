#include "search/record_buffer.h"

#include "lifecycle/limits.h"

RecordBuffer::RecordBuffer(SearchSink& sink, bool lfLineEnds)
    : sink_(sink),
      records_(new char[kSize]),
      lineEnd_{lfLineEnds ? '\n' : '\r', '\n'},
      lineEndLength_(lfLineEnds ? 1 : 2) {}

char* RecordBuffer::Begin() {
    if (used_ + kRecordBufferSize + 2 > kSize) Write();
    return records_.get() + used_;
}

void RecordBuffer::End(int length) {
    // Two bytes are stored either way; with LF alone the second is the next
    // record's first.
    char* end = records_.get() + used_ + length;
    end[0] = lineEnd_[0];
    end[1] = lineEnd_[1];
    used_ += static_cast<unsigned int>(length) + lineEndLength_;
}

void RecordBuffer::Write() {
    if (used_ == 0) return;
    unsigned int used = used_;
    used_ = 0;
    if (!sink_.Records(records_.get(), used)) throw RecordsRefused();
}

void RecordBuffer::Abandon() {
    unsigned int used = used_;
    used_ = 0;
    if (used) sink_.Abandoned(records_.get(), used);
}
