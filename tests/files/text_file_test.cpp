#include "files/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/atomic_file.h"
#include "files/paths.h"
#include "platform/platform.h"
#include "test_files.h"

namespace {

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : platform::folderEntries(folder))
    if (name != "." && name != "..") names.push_back(name);
  return names;
}

TEST(readTextFile, JoinsLinesAndDropsWhatStandsBeforeTheFirstAngle) {
  struct Case {
    std::string bytes;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<a/>\n", "<?xml version=\"1.0\"?><a/>"},
      {"   <a>x</a>", "<a>x</a>"},
      {"<a>\nx\n</a>", "<a>x</a>"},
      {"<a>\r\nx\r\n</a>\r\n", "<a>x</a>"},
      {"<a>\nx\n</a>\n", "<a>x</a>"},
      {"<a>x\r</a>", "<a>x\r</a>"},              // a CR without LF is data
      {"\n<a/>", "<a/>"},                        // first line without '<' is kept whole (it is empty)
      {"no angle here\n<a/>", "no angle here<a/>"},
      {"ab<c\nd<e", "<cd<e"},                    // the cut applies to the first line only
      {"x\n y<z", "x y<z"},
      {std::string("<a>\0b</a>", 8), std::string("<a>\0b</a>", 8)},  // bytes pass unchanged
      {"<a>\xC0\xFF</a>", "<a>\xC0\xFF</a>"},
  };
  ScopedTempDir dir;
  for (const auto& c : cases) {
    writeFileBytes(dir.file("f.xml"), c.bytes);
    const FileRead read = readTextFile(dir.file("f.xml"));
    EXPECT_EQ(FileStatus::kFound, read.status) << "bytes: " << c.bytes;
    EXPECT_EQ(c.want, read.text) << "bytes: " << c.bytes;
  }
}

// A missing file and one that cannot be read are told apart, and neither
// gives a text.
TEST(readFile, TellsFoundMissingAndFailedApart) {
  ScopedTempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  writeFileBytes(dir.file("locked.xml"), "<a/>");
  ::chmod(dir.file("locked.xml").c_str(), 0000);
  struct Case {
    std::string path;
    FileStatus want;
  };
  const std::vector<Case> cases = {
      {dir.file("absent.xml"), FileStatus::kNotFound},
      {dir.file("no/folder.xml"), FileStatus::kNotFound},
      {"", FileStatus::kNotFound},
      {dir.path(), FileStatus::kFailed},            // a folder: opened, but no read succeeds
      {dir.file("locked.xml"), FileStatus::kFailed},  // no right to read (checked unprivileged)
  };
  for (const auto& c : cases) {
    EXPECT_EQ(0, runUnprivileged([&] {
                const FileRead read = readFile(c.path);
                return read.status == c.want && read.text.empty() &&
                       (c.want != FileStatus::kFailed || !read.reason.empty());
              }))
        << c.path;
  }
}

TEST(readTextFile, ReadsLargeFilesWhole) {
  ScopedTempDir dir;
  std::string bytes, want;
  for (int i = 0; i < 200000; ++i) {
    bytes += "<line n=\"" + std::to_string(i) + "\"/>\r\n";
    want += "<line n=\"" + std::to_string(i) + "\"/>";
  }
  writeFileBytes(dir.file("big.xml"), bytes);
  EXPECT_EQ(want, readTextFile(dir.file("big.xml")).text);
}

TEST(AtomicFile, ReplacesTheFileAndLeavesNoTemporary) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old");
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("c.xml"), "new", error)) << error;
  EXPECT_EQ("new", readFileBytes(dir.file("c.xml")));
  ASSERT_TRUE(writeFileAtomically(dir.file("fresh.xml"), "x", error)) << error;
  EXPECT_EQ("x", readFileBytes(dir.file("fresh.xml")));
  EXPECT_EQ(2u, entriesOf(dir.path()).size());
}

// Every way the replacement can fail leaves the old file as it was and no
// temporary file behind.
TEST(AtomicFile, FailureLeavesTheOldFileIntact) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old bytes");
  std::string error;

  // The object goes away before its commit: the temporary is removed.
  {
    AtomicFile out(dir.file("c.xml"));
    ASSERT_TRUE(out.open(error)) << error;
    std::fputs("half", out.file());
  }
  EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));

  // The folder is gone.
  EXPECT_FALSE(writeFileAtomically(dir.file("gone/c.xml"), "x", error));
  EXPECT_NE(std::string::npos, error.find("gone")) << error;

  // The target is a folder: the rename fails, the temporary is removed.
  ::mkdir(dir.file("sub").c_str(), 0700);
  writeFileBytes(dir.file("sub/keep"), "k");
  EXPECT_FALSE(writeFileAtomically(dir.file("sub"), "x", error));
  EXPECT_EQ("k", readFileBytes(dir.file("sub/keep")));

  // A read-only folder; a read-only file in a writable one.
  ::chmod(dir.path().c_str(), 0555);
  ::chmod(dir.file("c.xml").c_str(), 0644);
  EXPECT_EQ(1, runUnprivileged([&] {
              std::string e;
              return writeFileAtomically(dir.file("c.xml"), "x", e);
            }));
  ::chmod(dir.path().c_str(), 0777);
  ::chmod(dir.file("c.xml").c_str(), 0444);
  EXPECT_EQ(1, runUnprivileged([&] {
              std::string e;
              return writeFileAtomically(dir.file("c.xml"), "x", e) || e.find("read-only") == std::string::npos;
            }));
  ::chmod(dir.path().c_str(), 0700);
  ::chmod(dir.file("c.xml").c_str(), 0644);
  EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));
  EXPECT_EQ(2u, entriesOf(dir.path()).size());
}

// While it is written, and when a killed run leaves it behind, the
// temporary file must not match a pattern such as ImportData* that another
// program uses to pick up the finished file, and its name cannot be guessed.
TEST(AtomicFile, TemporaryNameIsUnpredictableAndNeverMatchesTheTargetsPattern) {
  ScopedTempDir dir;
  std::string error;
  AtomicFile first(dir.file("ImportData.xml")), second(dir.file("ImportData.xml"));
  ASSERT_TRUE(first.open(error) && second.open(error)) << error;
  const std::string name = nameOf(first.temporaryPath());
  EXPECT_NE(0u, name.rfind("ImportData", 0)) << name;
  EXPECT_NE(first.temporaryPath(), second.temporaryPath());
  long pid = 0;
  EXPECT_TRUE(isTemporaryNameOf(name, "ImportData.xml", pid)) << name;
  EXPECT_EQ(platform::processId(), pid);
}

// The replacement keeps the target's permission bits: a private
// configuration stays private.
TEST(AtomicFile, KeepsTheTargetsPermissions) {
  ScopedTempDir dir;
  for (const mode_t mode : {0600, 0640, 0644, 0660}) {
    writeFileBytes(dir.file("c.xml"), "old");
    ::chmod(dir.file("c.xml").c_str(), mode);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir.file("c.xml"), "new", error)) << error;
    struct stat info {};
    ASSERT_EQ(0, ::stat(dir.file("c.xml").c_str(), &info));
    EXPECT_EQ(mode, info.st_mode & 07777) << std::oct << mode;
  }
}

// A name planted in the folder is never written through, and only the
// temporary files of runs that have ended are cleared away.
TEST(AtomicFile, PlantedNamesAreNeverFollowedAndOnlyDeadRunsLeftoversGo) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("victim"), "keep");
  ASSERT_EQ(0, ::symlink(dir.file("victim").c_str(), dir.file("planted").c_str()));
  std::string error;
  EXPECT_EQ(nullptr, platform::createExclusive(dir.file("planted"), "", error));
  EXPECT_EQ("keep", readFileBytes(dir.file("victim")));

  const std::vector<std::pair<std::string, bool>> leftovers = {
      {"~c.xml.999999999.0123456789abcdef.tmp", false},  // its run has ended: removed
      {"~c.xml.1.0123456789abcdef.tmp", true},           // its process still runs
      {"~c.xml.tmp123-0", true},                         // not a name of ours
      {"~d.xml.999999999.0123456789abcdef.tmp", true},   // another target's
  };
  for (const auto& l : leftovers) writeFileBytes(dir.file(l.first), "x");
  ASSERT_EQ(0, ::symlink(dir.file("victim").c_str(), dir.file("~c.xml.999999998.0123456789abcdef.tmp").c_str()));
  removeStaleTemporaries(dir.file("c.xml"));
  for (const auto& l : leftovers) EXPECT_EQ(l.second, fileExists(dir.file(l.first))) << l.first;
  EXPECT_FALSE(fileExists(dir.file("~c.xml.999999998.0123456789abcdef.tmp")));
  EXPECT_EQ("keep", readFileBytes(dir.file("victim")));
}

}  // namespace
