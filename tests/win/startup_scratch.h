// startup_scratch.h -- a scratch folder below the temporary folder for tests that
// touch the disk, removed again with everything in it.
#ifndef SFXKIT_TESTS_WIN_STARTUP_SCRATCH_H
#define SFXKIT_TESTS_WIN_STARTUP_SCRATCH_H

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "sfxscratch" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
  }
  void TearDown() override { Remove(root_); }
  static void Remove(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string child = path + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Remove(child);
        else DeleteFileA(child.c_str());
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
  }
  // An empty file at root_\name.
  void MakeFile(const std::string &name) {
    HANDLE h = CreateFileA((root_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  std::string root_;
};

#endif
