// Small helpers for JSON text that the service writes and reads by hand.
#pragma once

#include <cstddef>
#include <string>

namespace cloudsim {

// The text as a quoted JSON string: '"' and '\' are escaped, control bytes
// become \n, \t ... or \u00XX; every other byte (UTF-8 or not) is copied.
std::string jsonQuote(const std::string& text);

// Appends jsonQuote(text) to out.
void appendJsonQuoted(std::string& out, const std::string& text);

// Where a string member stands in raw JSON text.
struct StringMember {
    size_t valueBegin = 0;  // first byte after the opening quote
    size_t valueEnd = 0;    // index of the closing quote
};

// Looks for the first member "key" whose value is a string literal and
// finds that literal's extent. An escape is taken as the backslash and the
// byte after it, so \" does not end the literal. False when the key is
// absent, its value is not a string, or the literal is not closed.
bool findStringMember(const std::string& text, const std::string& key, StringMember& out);

// Decodes the raw content of a JSON string literal. Standard escapes are
// decoded (\uXXXX to UTF-8, surrogate pairs joined); an escape that is not
// valid JSON is kept as it stands, backslash included; all other bytes,
// also bytes of 0x80 and above that are not UTF-8, are copied unchanged.
std::string decodeJsonStringContent(const std::string& text, size_t begin, size_t end);

}  // namespace cloudsim
