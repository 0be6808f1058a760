// Replacing a file so that it is never seen half written: the new content
// goes into a temporary file in the same folder, which is flushed to disk
// and then renamed over the target in one step.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The temporary file is created exclusively under a name that cannot be
// predicted ("~" + the target's name + "." + process id + "." + random +
// ".tmp"), so a file or link planted in the folder is never written through,
// and it never matches a pattern such as ImportData* that another program
// uses to pick up the finished file. It gets the target's permission bits
// (on Windows its access list), and its owner where the process may set it.
// Unless it was committed, the destructor removes it, so every failure
// leaves the target exactly as it was.
class AtomicFile {
 public:
  explicit AtomicFile(std::string targetPath);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file. False, with `error` naming the file and the
  // reason, when it cannot be created.
  bool open(std::string& error);

  // The temporary file to write to; null before open and after finish.
  std::FILE* file() const { return file_; }

  const std::string& targetPath() const { return targetPath_; }
  const std::string& temporaryPath() const { return temporaryPath_; }

  // finish, then rename over the target. False, with `error` set, when a
  // write failed or a step fails; the target is then untouched.
  bool commit(std::string& error);

  // The two halves of commit, for a caller that must record the temporary
  // file's name between them: checks that every write succeeded, flushes
  // the file to disk and closes it (the temporary stays); then renames it.
  bool finish(std::string& error);
  bool replaceTarget(std::string& error);

 private:
  std::string targetPath_;
  std::string temporaryPath_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool done_ = false;
};

// Replaces `targetPath` with `bytes` through an AtomicFile. False, with
// `error` set, when it fails; the target is then untouched.
bool writeFileAtomically(const std::string& targetPath, std::string_view bytes, std::string& error);

// Whether `name` (without a folder) is a temporary file name that an
// AtomicFile for the target named `targetName` makes; `processId` is then
// set to the id of the process that made it.
bool isTemporaryNameOf(const std::string& name, const std::string& targetName, long& processId);

// Removes the temporary files of `targetPath` left behind by runs that have
// ended (killed between two writes), except `keepName`. The files of a
// process that still runs are left alone.
void removeStaleTemporaries(const std::string& targetPath, const std::string& keepName = "");
