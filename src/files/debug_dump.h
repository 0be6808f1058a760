// Debug dumps: with debug mode on, labelled entries appended to dump files
// in the current directory; with it off, nothing is written or created.
// Debug mode changes what is logged, never what the program does.
#pragma once

#include <string>
#include <string_view>

// Whether debug mode is on is the configuration's to say, and it stands
// above this room: it hands down the question `dumpsOn` once, as the
// process starts, and every dump asks it anew, so that a change of the
// setting holds from the next dump on. Until a question is handed down,
// no dump is written.
void setDumpSwitch(bool (*dumpsOn)());

// With debug mode on, appends `label` and then `text` to `file` as two
// entries (only `text` when `label` is empty); otherwise does nothing.
void debugDump(const std::string& file, std::string_view label, std::string_view text);
