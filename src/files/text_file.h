// Reading whole text files and replacing files atomically.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Reads the file at `filePath` as one text with every line end dropped: the
// lines are joined directly, with no separator. CR LF and LF line ends read
// the same on every platform (a CR is dropped only in front of a LF). On the
// first line everything in front of its first '<' is dropped (a byte-order
// mark, blanks); a first line without '<' is kept whole. Bytes are otherwise
// returned unchanged. Returns the empty text when the file cannot be opened.
std::string readTextFile(const std::string& filePath);

// What readTextFile returns for a file that holds `bytes`.
std::string textAsRead(std::string bytes);

// Writes a file so that it is never seen half written: `write` fills a
// temporary file in the same folder as `targetPath`, which is then flushed to
// disk and renamed over the target. Returns false when `write` returns false
// or any step fails; the temporary file is then removed, the target is left
// exactly as it was, and `error` holds the reason.
bool writeFileAtomically(const std::string& targetPath, const std::function<bool(std::FILE*)>& write,
                         std::string& error);
