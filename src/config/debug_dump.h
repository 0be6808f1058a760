// Debug dumps: with debug mode on, labelled entries appended to dump files
// in the current directory; with it off, nothing is written or created.
// Debug mode changes what is logged, never what the program does.
#pragma once

#include <string>
#include <string_view>

// With debug mode on, appends `label` and then `text` to `file` as two
// entries (only `text` when `label` is empty); otherwise does nothing.
void debugDump(const std::string& file, std::string_view label, std::string_view text);
