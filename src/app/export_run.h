// The export run: 1C's goods file is sent to the service and stamped.
#pragma once

#include <string>

// Reads the goods file `fileName`, sends it to the service, shows the
// answer, and stamps the file's ExportData root with Processed (the local
// date-time of the run). A missing or empty file is not sent; a failed
// upload leaves the file byte for byte as it was. Returns the exit code:
// kExitOk, or kExitRunFailed with one line on standard error saying why.
int runExport(const std::string& fileName);

enum class StampResult {
  kStamped,      // the file was rewritten with the attribute
  kNoSuchRoot,   // the file does not parse or its root has another name: untouched
  kWriteFailed,  // the file could not be replaced: untouched
};

// Sets attribute `attributeName` to `value` on the root element of the XML
// file `filePath` when that root is called `rootName` (an existing attribute
// keeps its place), and replaces the file atomically with the re-indented
// document. Unless the result is kStamped, the file is untouched and `error`
// says why.
StampResult setRootAttributeInFile(const std::string& filePath, const std::string& rootName,
                                   const std::string& attributeName, const std::string& value, std::string& error);
