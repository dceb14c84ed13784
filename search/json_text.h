// Strings of JSON records (RFC 8259): text written as valid UTF-8 whatever
// bytes it comes in, the quote, the backslash and control bytes escaped.
#ifndef TALVERON_SEARCH_JSON_TEXT_H
#define TALVERON_SEARCH_JSON_TEXT_H

#include <string>
#include <string_view>

struct LinkFields;

// Appends `text` as a JSON string, quotes included: bytes that are not
// UTF-8 become U+FFFD, one for each maximal part of a sequence that cannot
// go on (as the Encoding Standard's decoder, and Python's "replace", make
// them).
void AppendJsonText(std::string& out, std::string_view text);

// Appends an address as a JSON string: bytes that are not UTF-8 are
// percent-encoded (%XX, upper case), as the URL Standard writes bytes it
// does not keep; UTF-8 stays as it is.
void AppendJsonAddress(std::string& out, std::string_view address);

// Appends the standards mode's record of `link` as one JSON object (no
// line end): {"url":...,"href":...,"element":...,"attribute":...,
// "text":...,"rel":...,"offset":N}, null for a field the link has not.
void AppendJsonLink(std::string& out, const LinkFields& link);

#endif
