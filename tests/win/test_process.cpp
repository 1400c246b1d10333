// test_process.cpp -- what the process does around the dialog: the COM apartment
// of the folder browser, and running out of memory, with the core's allocator
// replaced here so that allocations can be made to fail.
#include <gtest/gtest.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include "SFXBrowse.h"
#include "SFXProcsFile.h"
#include "SFXVars.h"
#include "stub_test.h"

namespace {
bool FailAllocations = false;  // every allocation fails while set

// Watches the thread's windows from a thread of its own: a message box that
// shows has its text reported on stderr and is closed with OK. In a silent run
// no box may show: one that does ends the process with exit code 99.
DWORD WINAPI CloseBoxes(void *thread) {
  for (;;) {
    EnumThreadWindows((DWORD)(UINT_PTR)thread, [](HWND window, LPARAM) -> BOOL {
      char text[256] = "";
      if (IsWindowVisible(window) && GetDlgItemTextA(window, 0xFFFF, text, sizeof text)) {
        if (Silent) ExitProcess(99);
        fprintf(stderr, "box: %s\n", text);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        Sleep(200);
      }
      return TRUE;
    }, 0);
    Sleep(20);
  }
}
}  // namespace

// The core's allocator, as memory.cpp has it, but with a switch to fail.
void *TryAllocateMemory(size_t size) { return FailAllocations ? nullptr : malloc(size ? size : 1); }
void *AllocateMemory(size_t size) {
  void *block = TryAllocateMemory(size);
  if (!block) OutOfMemory();
  return block;
}
void ReleaseMemory(void *block) { free(block); }

using ProcessTest = StubTest;

TEST_F(ProcessTest, BrowserApartmentIsEnteredOnce) {
  EnterComApartment();
  EnterComApartment();
  ASSERT_TRUE(ComInitialized);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);  // already in it
  CoUninitialize();
}

// Building the fatal message would need memory too: a fixed text, exit code 1,
// and no second try. A silent run, with nobody to click, shows no box at all.
TEST(OutOfMemoryDeathTest, FixedTextThenExitCodeOne) {
  for (bool silent : {false, true}) {
    EXPECT_EXIT(
        {
          Silent = silent;
          CreateThread(nullptr, 0, CloseBoxes, (void *)(UINT_PTR)GetCurrentThreadId(), 0, nullptr);
          OutputHandle = (HANDLE)(INT_PTR)0x4321;  // the orderly end then has an error to report too
          FailAllocations = true;
          SubstituteText("Cannot write to %s", "x");
        },
        ::testing::ExitedWithCode(1), silent ? "" : "box: Out of memory\\.")
        << (silent ? "silent" : "with boxes");
  }
}
