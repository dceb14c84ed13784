#include "printers.h"

#include <poll.h>

#include <cstdio>
#include <cstring>

#include "messages.h"
#include "talveron.h"

namespace {

// A name as a field of --tsv, as PostgreSQL's text format writes one: the
// backslash, and control bytes and DEL, escaped (\t, \n, \r, \b, \f,
// \v, else \xNN).
std::string TsvName(const std::string& name) {
    static const char kNamed[] = "\t\n\r\b\f\v\\";  // written as \ and these letters
    static const char kLetters[] = "tnrbfv\\";
    std::string field;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        const char* named = c ? std::strchr(kNamed, c) : nullptr;
        if (named) {
            field += '\\';
            field += kLetters[named - kNamed];
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            field += escaped;
        } else {
            field += c;
        }
    }
    return field;
}

// True when a read of `fd` would not wait.
bool InputReady(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

long long CountLines(const char* bytes, std::size_t length) {
    long long n = 0;
    for (const char *p = bytes, *end = bytes + length; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         ++p)
        ++n;
    return n;
}

// The records, after the input's name or as NAME<TAB>ADDRESS.
class RecordPrinter final : public Printer {
public:
    using Printer::Printer;
    bool Records(InputTold& input, const InputNames& names, const char* bytes, std::size_t length) override {
        if (length == 0) return true;
        long long before = output_.RecordCount();
        bool ok = output_.Records(bytes, length, names.prefix, names.skip);
        // Standard input may pause: what was found goes out before a read
        // that would wait.
        if (ok && input.standardInput && !InputReady(0)) ok = output_.Push();
        counts_.records += output_.RecordCount() - before;
        input.records = 1;
        return ok;
    }
};

// -c: NAME:COUNT (NAME<TAB>COUNT with --tsv) per input.
class CountPrinter final : public Printer {
public:
    using Printer::Printer;
    bool Records(InputTold& input, const InputNames&, const char* bytes, std::size_t length) override {
        long long n = CountLines(bytes, length);
        input.records += n;
        counts_.records += n;
        return true;
    }
    void End(const InputTold& input, const InputNames& names) override {
        std::string count = std::to_string(input.records);
        std::string line = options_.json ? names.prefix + "\"count\":" + count + "}\n"
                                         : (names.named ? names.prefix : "") + count + "\n";
        output_.Lines(line.data(), line.size());
    }
};

// -l, -L: the names of inputs with a record, or searched whole without one;
// -q: nothing. One record tells all.
class NamePrinter final : public Printer {
public:
    using Printer::Printer;
    bool Records(InputTold& input, const InputNames&, const char*, std::size_t length) override {
        if (length == 0) return true;
        input.records = 1;
        return false;
    }
    void End(const InputTold& input, const InputNames& names) override {
        bool listed = options_.listing == Listing::kFilesWithMatches ? input.records > 0
                      : options_.listing == Listing::kFilesWithoutMatch ? input.records == 0 && input.completed
                                                                        : false;
        if (!listed || options_.quiet) return;
        std::string line = names.listed + (options_.nullAfterName ? '\0' : '\n');
        output_.Lines(line.data(), line.size());
    }
    bool OneRecordTellsAll() const override { return true; }
};

}  // namespace

InputNames Printer::Names(const std::string& name, bool withName) const {
    InputNames names;
    names.name = name;
    names.shown = names.sayAs = ShownName(name);
    // With -Z a name is followed by a 0 byte and shown as it is.
    names.listed = options_.nullAfterName ? name : names.shown;
    names.named = withName || options_.tsv || options_.json;
    if (options_.json) {
        // The library's object, {"url":...}, becomes {"page":NAME,"url":...}.
        names.prefix = "{\"page\":" + JsonName(name) + ",";
        names.skip = 1;
    } else if (options_.tsv)
        names.prefix = TsvName(name) + '\t';
    else if (withName)
        names.prefix = names.listed + (options_.nullAfterName ? '\0' : ':');
    return names;
}

std::unique_ptr<Printer> MakePrinter(const Options& options, Output& output, RunCounts& counts) {
    if (options.quiet || options.listing == Listing::kFilesWithMatches ||
        options.listing == Listing::kFilesWithoutMatch)
        return std::unique_ptr<Printer>(new NamePrinter(options, output, counts));
    if (options.listing == Listing::kCount) return std::unique_ptr<Printer>(new CountPrinter(options, output, counts));
    return std::unique_ptr<Printer>(new RecordPrinter(options, output, counts));
}

void RejectedPrinter::Rejected(const InputNames& names, int reason, int keyword, long long offset,
                               const char* address, std::size_t length) {
    if (reason == TALVERON_EXCLUDED && keyword >= 1 && keyword <= TALVERON_KEYWORD_SLOTS)
        ++counts_.excluded[keyword - 1];
    if (reason == TALVERON_TOO_LONG || reason == TALVERON_ADDRESS_TOO_LONG) ++counts_.tooLong;
    if (reason == TALVERON_UNFINISHED) ++counts_.unfinished;
    if (reason == TALVERON_OTHER_SCHEME) {
        const char* colon = static_cast<const char*>(std::memchr(address, ':', length));
        std::string scheme(address, colon ? colon : address);
        if (scheme == "file") ++counts_.fileLinks;
        counts_.LinkPassedOver(scheme);
    }
    if (reason == TALVERON_NOT_AN_ADDRESS) counts_.LinkNotAnAddress();
    std::size_t limit = options_.html ? static_cast<std::size_t>(TALVERON_LINK_MAX) : TALVERON_ADDRESS_MAX;
    if (reason == TALVERON_TOO_LONG && options_.html && !options_.noMessages)
        Say(names.sayAs + ": byte " + std::to_string(offset) + ": a link longer than " + std::to_string(limit) +
            " bytes is passed over");
    if (reason == TALVERON_ADDRESS_TOO_LONG) {
        limit = options_.addressMax ? options_.addressMax : TALVERON_HTML_ADDRESS_MAX;
        if (!options_.noMessages)
            Say(names.sayAs + ": byte " + std::to_string(offset) + ": a link whose address would be longer than " +
                std::to_string(limit) + " bytes is passed over (--max-address)");
    }
    file_.Add(names.shown, reason, keyword, offset, address, length, options_.keywords, limit);
}
