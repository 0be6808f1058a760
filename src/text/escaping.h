// Escaping of the values the program writes into JSON texts and URLs.
#pragma once

#include <string>
#include <string_view>

// Appends `text` to `out` as the inside of a JSON string value: TAB is
// dropped (goods files are indented with it), '"' and '\' get a backslash,
// LF and CR become \n and \r, every other byte below 0x20 becomes \u00XX.
// Bytes of 0x80 and above pass unchanged (no code-page conversion).
void appendJsonEscaped(std::string& out, std::string_view text);

// `text` escaped as appendJsonEscaped does.
std::string escapeForJsonString(std::string_view text);

// `text` percent-encoded for a URL query value: letters, digits and - _ . ~
// unchanged, every other byte as %XX.
std::string percentEncode(std::string_view text);
