#include "api/record_rewriter.h"

#include <cstring>
#include <string_view>

#include "search/json_text.h"

RecordRewriter::RecordRewriter(SearchSink& out, const talveron_sink& sink)
    : out_(out),
      json_(sink.format == TALVERON_FORMAT_JSON),
      unique_(sink.unique != 0),
      noFragment_(sink.no_fragment != 0),
      link_(sink.link != nullptr),
      lineEnd_(sink.lf_line_ends ? "\n" : "\r\n"),
      lineEndLength_(sink.lf_line_ends ? 1 : 2) {}

bool RecordRewriter::Records(const char* bytes, std::size_t length) {
    rewritten_.clear();
    const char* end = bytes + length;
    // Each record is its address and the line end: the module's addresses
    // hold printable bytes only, never a line end of their own.
    for (const char* line = bytes; line < end;) {
        const char* lf = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        const char* next = lf ? lf + 1 : end;
        std::size_t size = static_cast<std::size_t>(next - line);
        std::string_view address(line, size >= lineEndLength_ ? size - lineEndLength_ : 0);
        line = next;
        if (noFragment_) address = address.substr(0, address.find('#'));
        if (unique_ && !seen_.Insert(address)) continue;
        if (link_) {
            LinkFields fields;
            fields.url = address;
            if (!out_.Link(fields)) {
                // The records before this one are the caller's all the same.
                if (!rewritten_.empty()) out_.Records(rewritten_.data(), rewritten_.size());
                return false;
            }
        }
        if (json_) {
            rewritten_ += "{\"url\":";
            AppendJsonAddress(rewritten_, address);
            rewritten_ += '}';
        } else {
            rewritten_.append(address.data(), address.size());
        }
        rewritten_.append(lineEnd_, lineEndLength_);
    }
    // A piece whose records were all given before says nothing.
    return rewritten_.empty() || out_.Records(rewritten_.data(), rewritten_.size());
}
