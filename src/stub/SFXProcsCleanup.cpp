// SFXProcsCleanup.cpp -- what the stub creates on disk, noted as it goes, and its removal at the end.
#include "SFXProcsCleanup.h"

#include <windows.h>

#include "SFXProcsFolder.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

enum : int { RemoveTries = 6 };  // with the pauses between them, about 2.5 seconds
enum : DWORD { RemoveRetryMs = 500 };

// Full paths: the current folder may change before the end (Close makes the
// target folder current), and a relative path would then name something else.
// Noted as the system takes them, in UTF-16 with a zero after each, so that
// the end hands them over as they are; a name with a zero in it is noted up
// to that zero, as the system took it.
void NoteCreated(const SfxString &path) {
  WideText full(SystemPath(ExpandFullPath(path)));
  CreatedPaths.Append((const char *)full.Data(), ((uint32_t)lstrlenW(full) + 1) * sizeof(WCHAR));
}

// One walk over the noted paths, newest first; false when something that should
// have gone is still there. Gone already is as good as removed; a folder that
// holds anything is meant to stay; one still in use (a program that has just
// ended may hold it as its working folder a moment longer) is not.
static bool RemovePass(bool files) {
  bool removed = true;
  const WCHAR *paths = (const WCHAR *)CreatedPaths.Text();
  for (uint32_t end = CreatedPaths.Length() / sizeof(WCHAR); end > 0;) {
    uint32_t start = end - 1;
    while (start > 0 && paths[start - 1]) start--;
    const WCHAR *path = paths + start;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        !((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path) || GetLastError() == ERROR_DIR_NOT_EMPTY
                                                   : !files || DeleteFileW(path)))
      removed = false;
    end = start;
  }
  return removed;
}

bool RemoveCreated(bool files) {
  // Close and the folder browser make a folder current, which the stub would
  // then hold itself.
  SetCurrentDirectoryW(L"\\");
  for (int attempt = 1; !RemovePass(files); attempt++) {
    if (attempt == RemoveTries) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, RemoveRetryMs, 0);  // a pause: no input wakes it
  }
  return true;
}
