// Telling UTF-8 text from bytes of another code page.
#pragma once

#include <string_view>

// True when `bytes` are well-formed UTF-8: no stray continuation byte, no
// sequence cut short, no overlong form, no surrogate, nothing past U+10FFFF.
bool isValidUtf8(std::string_view bytes);
