#include "files/atomic_file.h"

#include <climits>

#include "files/paths.h"
#include "platform/platform.h"

AtomicFile::AtomicFile(std::string targetPath) : targetPath_(std::move(targetPath)) {}

AtomicFile::~AtomicFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporaryPath_.empty() && !done_) platform::removeFile(temporaryPath_);
}

bool AtomicFile::open(std::string& error) {
  const std::string stem = folderOf(targetPath_) + "~" + nameOf(targetPath_) + "." +
                           std::to_string(platform::processId()) + ".";
  std::string reason;
  // A clash with an existing name is next to impossible with a random part;
  // a few tries make it so.
  for (int attempt = 0; attempt < 4 && file_ == nullptr; ++attempt) {
    temporaryPath_ = stem + platform::randomToken() + ".tmp";
    file_ = platform::createExclusive(temporaryPath_, targetPath_, reason);
  }
  if (file_ == nullptr) {
    error = "cannot create " + temporaryPath_ + ": " + reason;
    temporaryPath_.clear();
    return false;
  }
  return true;
}

bool AtomicFile::finish(std::string& error) {
  if (file_ == nullptr) {
    if (error.empty()) error = "the temporary file is not open";
    return false;
  }
  bool ok = true;
  if (std::ferror(file_) || !platform::flushToDisk(file_)) {
    error = "writing " + temporaryPath_ + " failed: " + platform::lastErrorText();
    ok = false;
  }
  if (std::fclose(file_) != 0 && ok) {
    error = "closing " + temporaryPath_ + " failed: " + platform::lastErrorText();
    ok = false;
  }
  file_ = nullptr;
  failed_ = !ok;
  return ok;
}

bool AtomicFile::replaceTarget(std::string& error) {
  if (failed_ || temporaryPath_.empty() || file_ != nullptr) {
    if (error.empty()) error = "the temporary file is not finished";
    return false;
  }
  if (!platform::replaceFile(temporaryPath_, targetPath_, error)) return false;
  done_ = true;
  return true;
}

bool AtomicFile::commit(std::string& error) { return finish(error) && replaceTarget(error); }

bool writeFileAtomically(const std::string& targetPath, std::string_view bytes, std::string& error) {
  AtomicFile out(targetPath);
  if (!out.open(error)) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.file()) != bytes.size()) {
    error = "writing " + out.temporaryPath() + " failed: " + platform::lastErrorText();
    return false;
  }
  return out.commit(error);
}

bool isTemporaryNameOf(const std::string& name, const std::string& targetName, long& processId) {
  // ~NAME.PID.RANDOM.tmp, RANDOM being 16 hexadecimal digits.
  const std::string prefix = "~" + targetName + ".";
  static const std::string kSuffix = ".tmp";
  if (name.size() < prefix.size() + kSuffix.size() + 18 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
    return false;
  const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
  const std::size_t dot = middle.find('.');
  if (dot == 0 || dot == std::string::npos || dot > 10 || middle.size() - dot - 1 != 16) return false;
  long long pid = 0;  // up to 10 digits: more than a 32-bit long holds
  for (std::size_t i = 0; i < dot; ++i) {
    if (middle[i] < '0' || middle[i] > '9') return false;
    pid = pid * 10 + (middle[i] - '0');
  }
  if (pid > LONG_MAX) return false;  // no process of this system has such an id
  for (std::size_t i = dot + 1; i < middle.size(); ++i) {
    const char c = middle[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  processId = static_cast<long>(pid);
  return true;
}

void removeStaleTemporaries(const std::string& targetPath, const std::string& keepName) {
  const std::string folder = folderOf(targetPath);
  const std::string target = nameOf(targetPath);
  for (const std::string& name : platform::folderEntries(folder)) {
    long pid = 0;
    if (name == keepName || !isTemporaryNameOf(name, target, pid)) continue;
    if (pid != platform::processId() && platform::processIsRunning(pid)) continue;
    platform::removeFile(folder + name);
  }
}
