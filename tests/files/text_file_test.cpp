#include "files/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

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
    EXPECT_EQ(c.want, readTextFile(dir.file("f.xml"))) << "bytes: " << c.bytes;
  }
}

TEST(readTextFile, MissingFileOrFolderReadsEmpty) {
  ScopedTempDir dir;
  EXPECT_EQ("", readTextFile(dir.file("absent.xml")));
  EXPECT_EQ("", readTextFile(dir.path()));
  EXPECT_EQ("", readTextFile(""));
}

TEST(readTextFile, ReadsLargeFilesWhole) {
  ScopedTempDir dir;
  std::string bytes, want;
  for (int i = 0; i < 200000; ++i) {
    bytes += "<line n=\"" + std::to_string(i) + "\"/>\r\n";
    want += "<line n=\"" + std::to_string(i) + "\"/>";
  }
  writeFileBytes(dir.file("big.xml"), bytes);
  EXPECT_EQ(want, readTextFile(dir.file("big.xml")));
}

bool writeText(std::FILE* f, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

TEST(writeFileAtomically, ReplacesTheFileAndLeavesNoTemporary) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old");
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("c.xml"), [](std::FILE* f) { return writeText(f, "new"); }, error))
      << error;
  EXPECT_EQ("new", readFileBytes(dir.file("c.xml")));
  ASSERT_TRUE(writeFileAtomically(dir.file("fresh.xml"), [](std::FILE* f) { return writeText(f, "x"); }, error));
  EXPECT_EQ("x", readFileBytes(dir.file("fresh.xml")));
  EXPECT_EQ(0, system(("test $(ls -A " + dir.path() + " | wc -l) -eq 2").c_str()));
}

TEST(writeFileAtomically, FailureLeavesTheOldFileIntact) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old bytes");
  std::string error;

  // The writer itself fails.
  EXPECT_FALSE(writeFileAtomically(dir.file("c.xml"), [](std::FILE* f) { writeText(f, "half"); return false; },
                                   error));
  EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));

  // The folder is gone.
  EXPECT_FALSE(writeFileAtomically(dir.file("gone/c.xml"), [](std::FILE* f) { return writeText(f, "x"); }, error));
  EXPECT_NE(std::string::npos, error.find("gone")) << error;

  // The target is a folder: the rename fails, the temporary is removed.
  ::mkdir(dir.file("sub").c_str(), 0700);
  writeFileBytes(dir.file("sub/keep"), "k");
  EXPECT_FALSE(writeFileAtomically(dir.file("sub"), [](std::FILE* f) { return writeText(f, "x"); }, error));
  EXPECT_EQ("k", readFileBytes(dir.file("sub/keep")));

  // A read-only folder.
  ::chmod(dir.path().c_str(), 0555);
  ::chmod(dir.file("c.xml").c_str(), 0644);
  EXPECT_EQ(1, runUnprivileged([&] {
              std::string e;
              return writeFileAtomically(dir.file("c.xml"), [](std::FILE* f) { return writeText(f, "x"); }, e);
            }));
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));
  EXPECT_EQ(0, system(("test $(ls -A " + dir.path() + " | wc -l) -eq 2").c_str()));
}

// While it is written, and when a killed run leaves it behind, the
// temporary file must not match a pattern such as ImportData* that another
// program uses to pick up the finished file.
TEST(writeFileAtomically, TemporaryNameDoesNotBeginWithTheTargetName) {
  ScopedTempDir dir;
  std::vector<std::string> seen;
  std::string error;
  ASSERT_TRUE(writeFileAtomically(
      dir.file("ImportData.xml"),
      [&](std::FILE* f) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
          seen.push_back(entry.path().filename().string());
        return writeText(f, "x");
      },
      error));
  ASSERT_EQ(1u, seen.size());
  EXPECT_NE(0u, seen[0].rfind("ImportData", 0)) << seen[0];
  EXPECT_NE(std::string::npos, seen[0].find("ImportData.xml")) << seen[0];
}

TEST(writeFileAtomically, ReadOnlyTargetIsNotReplaced) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old bytes");
  ::chmod(dir.path().c_str(), 0777);  // the folder is writable, the file is not
  ::chmod(dir.file("c.xml").c_str(), 0444);
  EXPECT_EQ(1, runUnprivileged([&] {
              std::string e;
              const bool written =
                  writeFileAtomically(dir.file("c.xml"), [](std::FILE* f) { return writeText(f, "x"); }, e);
              return written || e.find("read-only") == std::string::npos;
            }));
  ::chmod(dir.file("c.xml").c_str(), 0644);
  EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));
  EXPECT_EQ(0, system(("test $(ls -A " + dir.path() + " | wc -l) -eq 1").c_str()));
}

}  // namespace
