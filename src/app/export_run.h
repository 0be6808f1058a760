// The export run: 1C's goods file is sent to the service and stamped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/run_report.h"

// The largest goods file the export reads: a larger one is refused with one
// line before it is read, rather than the run running out of memory.
inline constexpr std::size_t kMaxGoodsFileBytes = 256u * 1024u * 1024u;

// Reads the goods file `fileName`, sends it to the service, shows the
// answer, and stamps the file's ExportData root with Processed (the local
// date-time of the run). Nothing is sent (and the service not even logged
// in to) for a file that is no regular file, holds more than
// kMaxGoodsFileBytes, or is missing or empty (exit kExitRunFailed: an empty
// list must never replace the register's goods) or already stamped (kExitOk:
// 1C has nothing new). The stamp is written only after an upload the
// service took with HTTP 2xx, and only while the file still holds the bytes
// that were sent: a file 1C wrote meanwhile is left for the next run.
// Returns the exit code: kExitOk, or kExitRunFailed with one line on
// standard error saying why.
// When `report` is given it receives what the run did, for the run log.
int runExport(const std::string& fileName, RunReport* report);

enum class StampResult {
  kStamped,      // the file was rewritten with the attribute
  kNoSuchRoot,   // the file does not parse or its root has another name: untouched
  kChanged,      // the file no longer holds the bytes it was expected to: untouched
  kWriteFailed,  // the file could not be replaced: untouched
};

// Sets attribute `attributeName` to `value` on the root element of the XML
// file `filePath` when that root is called `rootName` (an existing attribute
// keeps its place) and the file ends with that root's end, and replaces the
// file atomically: the root's start tag rewritten, every other byte as it
// was. A file whose bytes no longer have the fileFingerprint
// `expectedFingerprint` (1C wrote it anew) is left alone (kChanged). Unless
// the result is kStamped, the file is untouched and `error` says why.
StampResult setRootAttributeInFile(const std::string& filePath, const std::string& rootName,
                                   const std::string& attributeName, const std::string& value, std::string& error,
                                   const std::string& expectedFingerprint);

// Whether the root element of the XML text `xml` is called `rootName` and
// carries `attributeName`; only the root's start tag is read.
bool rootHasAttribute(std::string_view xml, const char* rootName, const char* attributeName);
