#include "read/archive.h"

#include <algorithm>

namespace {

// A Content-Type's media type, lower case, without its parameters.
std::string MediaType(const std::string& field) {
    std::string type = FieldValue(field.data(), field.data() + std::min(field.find(';'), field.size()));
    for (char& c : type)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return type;
}

}  // namespace

ArchiveReader::ArchiveReader(ByteSource& in, bool decompressed, long long size)
    : reader_(in, size), decompressed_(decompressed) {}

ArchiveReader::Next ArchiveReader::NextRecord(std::string& problem) {
    for (;;) {
        body_.reset();
        headerOnly_ = false;
        WarcRecord record;
        std::string why;
        switch (reader_.NextRecord(record, why)) {
            case WarcReader::Next::kEnd:
                return Next::kEnd;
            case WarcReader::Next::kFailed:
                return Next::kFailed;
            case WarcReader::Next::kMalformed:
                problem = "malformed WARC record at byte " + std::to_string(record.offset) +
                          (decompressed_ ? " of the decompressed archive: " : ": ") + why;
                return Next::kMalformed;
            case WarcReader::Next::kRecord:
                break;
        }
        if (record.type == "continuation" && (record.origin.empty() || record.origin != reader_.LastSegmented())) {
            problem = "WARC continuation record at byte " + std::to_string(record.offset) +
                      (decompressed_ ? " of the decompressed archive" : "") +
                      ": its first segment is not in this archive";
            return Next::kMalformed;
        }
        bool response = record.type == "response";
        if (!response && record.type != "resource") {
            // The continuations of a record read whole were read with it.
            if (record.type == "continuation") continue;
            type_ = record.type;
            return Next::kPassedOver;
        }
        name_ = record.target;
        body_.reset(new HttpBody(reader_));
        if (!body_->Begin(response, problem)) {
            if (!reader_.BlockProblem().empty()) problem = reader_.BlockProblem();  // the cause
            return Next::kNotSearched;
        }
        if (htmlOnly_) {
            std::string type = MediaType(response && body_->HasHeader() ? body_->ContentType() : record.contentType);
            if (!type.empty() && type != "text/html" && type != "application/xhtml+xml") {
                int status = body_->Status();
                if (headerLinks_ && ((status >= 300 && status <= 399 && body_->HasLocation()) || body_->HasRefresh())) {
                    headerOnly_ = true;
                    return Next::kRecord;
                }
                type_ = type;
                return Next::kPassedOver;
            }
        }
        return Next::kRecord;
    }
}
