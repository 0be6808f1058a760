// Escaping of the values the program writes into JSON texts and URLs, and
// of the bytes its messages quote.
#pragma once

#include <string>
#include <string_view>

// What becomes of a TAB in a JSON string value.
enum class Tabs {
  kEscape,  // written \t, so the value sent is the value received
  kDrop,    // dropped: goods files are indented with them
};

// Appends `text` to `out` as the inside of a JSON string value: '"' and '\'
// get a backslash, TAB, LF and CR become \t, \n and \r (TAB is dropped
// instead with Tabs::kDrop), every other byte below 0x20 becomes \u00XX.
// Bytes of 0x80 and above pass unchanged (no code-page conversion).
void appendJsonEscaped(std::string& out, std::string_view text, Tabs tabs = Tabs::kEscape);

// The goods text escaped for its JSON string value: appendJsonEscaped with
// its TABs dropped.
std::string escapeForJsonString(std::string_view text);

// `text` percent-encoded for a URL query value: letters, digits and - _ . ~
// unchanged, every other byte as %XX.
std::string percentEncode(std::string_view text);

// Appends `text` to `out` for a message line: control bytes (below 0x20,
// and 0x7F) are written \xNN, and so are bytes of 0x80 and above when
// `highBytes` is set; every other byte passes unchanged.
void appendQuotedBytes(std::string& out, std::string_view text, bool highBytes = false);
