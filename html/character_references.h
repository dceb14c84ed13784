// Character references in an attribute value, decoded as the HTML
// standard's tokenizer decodes them there: named ones by the standard's
// table (the longest name that matches; a name without its ';' is left as
// it stands when '=' or a letter or digit follows it), numeric ones with the
// standard's replacements (0, surrogates and code points past U+10FFFF as
// U+FFFD; 0x80 to 0x9F as windows-1252 reads them). An '&' that begins no
// reference stays as it is.
#ifndef TALVERON_HTML_CHARACTER_REFERENCES_H
#define TALVERON_HTML_CHARACTER_REFERENCES_H

#include <string>
#include <string_view>

// Appends `value` to `out`, its character references decoded to UTF-8.
void AppendAttributeValue(std::string_view value, std::string& out);

// Appends `text`, the text of data or RCDATA, its character references
// decoded as the tokenizer decodes them there: as in an attribute value,
// but a name without its ';' stands for its character whatever follows.
void AppendText(std::string_view text, std::string& out);

// The UTF-8 bytes of the named reference `name` ("amp;", "not"), or null.
const char* NamedReference(std::string_view name);

#endif
