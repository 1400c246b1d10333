// test_startup_paths.cpp -- the path routines: splitting, trimming, the system's form and creating folders.
#include <gtest/gtest.h>
#include <windows.h>

#include "SFXProcsPath.h"
#include "stub_test.h"

namespace {

TEST(ExtractFolder, KeepsDriveRootsAndDrives) {
  EXPECT_EQ(S(ExtractFolder("C:\\")), "C:\\");
  EXPECT_EQ(S(ExtractFolder("C:\\x")), "C:\\");
  EXPECT_EQ(S(ExtractFolder("C:/x")), "C:/");
  EXPECT_EQ(S(ExtractFolder("C:x")), "C:x");  // three characters with a colon: whole
  EXPECT_EQ(S(ExtractFolder("C:name")), "C:");
  EXPECT_EQ(S(ExtractFolder("ab:")), "ab:");
}

TEST(ExtractFolder, CutsBeforeTheLastSeparator) {
  EXPECT_EQ(S(ExtractFolder("C:\\a\\b\\name")), "C:\\a\\b");
  EXPECT_EQ(S(ExtractFolder("a\\b\\")), "a\\b");
  EXPECT_EQ(S(ExtractFolder("a/b/c")), "a/b");
  EXPECT_EQ(S(ExtractFolder("a\\b/c")), "a\\b");
  EXPECT_EQ(S(ExtractFolder("\\name")), "");
  EXPECT_EQ(S(ExtractFolder("name")), "");
  EXPECT_EQ(S(ExtractFolder("")), "");
  EXPECT_EQ(S(ExtractFolder("\\\\server\\share")), "\\\\server");
}

TEST(ExtractName, TakesWhatFollowsTheLastSeparator) {
  EXPECT_EQ(S(ExtractName("C:\\a\\setup.exe")), "setup.exe");
  EXPECT_EQ(S(ExtractName("/S")), "S");
  EXPECT_EQ(S(ExtractName("C:run.exe")), "run.exe");
  EXPECT_EQ(S(ExtractName("a/b\\c")), "c");
  EXPECT_EQ(S(ExtractName("plain")), "plain");
  EXPECT_EQ(S(ExtractName("C:\\dir\\")), "");
  EXPECT_EQ(S(ExtractName("")), "");
}

TEST(Backslashes, AddOneAndStripAll) {
  EXPECT_EQ(S(AddBackslash("C:")), "C:\\");
  EXPECT_EQ(S(AddBackslash("C:\\")), "C:\\");
  EXPECT_EQ(S(AddBackslash("")), "");
  EXPECT_EQ(S(AddBackslash("a/")), "a/\\");  // a slash is not a backslash
  EXPECT_EQ(S(StripBackslashes("C:\\\\\\")), "C:");
  EXPECT_EQ(S(StripBackslashes("a\\b")), "a\\b");
  EXPECT_EQ(S(StripBackslashes("a/")), "a/");
  EXPECT_EQ(S(StripBackslashes("\\\\")), "");
  EXPECT_EQ(S(StripBackslashes("")), "");
}

TEST(SystemPath, LongPathsTakeTheLiteralForm) {
  std::string deep = std::string(200, 'd') + "\\" + std::string(100, 'e');
  EXPECT_EQ(S(SystemPath("C:\\short\\.\\x")), "C:\\short\\.\\x");  // as the system always read it
  EXPECT_EQ(S(SystemPath(("C:\\" + deep + "\\.\\f/g").c_str())), "\\\\?\\C:\\" + deep + "\\f\\g");
  EXPECT_EQ(S(SystemPath(("\\\\server\\share\\" + deep).c_str())), "\\\\?\\UNC\\server\\share\\" + deep);
  std::string literal = "\\\\?\\C:\\" + deep;
  EXPECT_EQ(S(SystemPath(literal.c_str())), literal);
}

using PathsOnDisk = ScratchFolder;

TEST_F(PathsOnDisk, ExistenceTellsFilesFromFolders) {
  MakeFile("file.txt");
  EXPECT_TRUE(FolderExists(root_.c_str()));
  EXPECT_TRUE(PathExists(root_.c_str()));
  EXPECT_FALSE(FolderExists((root_ + "\\file.txt").c_str()));
  EXPECT_TRUE(PathExists((root_ + "\\file.txt").c_str()));
  EXPECT_FALSE(PathExists((root_ + "\\missing").c_str()));
  EXPECT_FALSE(FolderExists((root_ + "\\missing").c_str()));
}

TEST_F(PathsOnDisk, ForceFoldersCreatesEveryMissingLevel) {
  std::string deeper = root_ + "\\new\\deeper";
  EXPECT_TRUE(ForceFolders((deeper + "\\").c_str()));
  EXPECT_TRUE(FolderExists((root_ + "\\new").c_str()));
  EXPECT_TRUE(FolderExists(deeper.c_str()));
  EXPECT_TRUE(ForceFolders(deeper.c_str()));  // already there
  EXPECT_TRUE(ForceFolders((root_ + "/slashed/too").c_str()));
  EXPECT_TRUE(FolderExists((root_ + "\\slashed\\too").c_str()));
}

TEST_F(PathsOnDisk, ForceFoldersStopsAtAFileInTheWay) {
  MakeFile("blocker");
  EXPECT_FALSE(ForceFolders((root_ + "\\blocker\\inner\\most").c_str()));
  EXPECT_FALSE(PathExists((root_ + "\\blocker\\inner").c_str()));
  EXPECT_FALSE(ForceFolders((root_ + "\\blocker").c_str()));
}

TEST(ForceFolders, NothingToDoForEmptyRootsAndDrives) {
  EXPECT_TRUE(ForceFolders(""));
  EXPECT_TRUE(ForceFolders("\\"));
  EXPECT_TRUE(ForceFolders("C:\\"));
  EXPECT_TRUE(ForceFolders("C:"));
}

}  // namespace
