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
// A name with a zero byte in it is noted up to that byte, as the system took it.
void NoteCreated(const SfxString &path) {
  CreatedPaths.Append(ExpandFullPath(path));
  CreatedPaths.Append("", 1);
}

// One walk over the noted paths, newest first. Gone already is as good as removed.
static bool RemovePass(bool files) {
  bool removed = true;
  const char *paths = CreatedPaths.Text();
  for (uint32_t end = CreatedPaths.Length(); end > 0;) {
    uint32_t start = end - 1;
    while (start > 0 && paths[start - 1]) start--;
    WideText path(SystemPath(paths + start));
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path);  // stays while it holds anything
      else if (files && !DeleteFileW(path)) removed = false;
    }
    end = start;
  }
  return removed;
}

bool RemoveCreated(bool files) {
  for (int attempt = 1; !RemovePass(files); attempt++) {
    if (attempt == RemoveTries) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, RemoveRetryMs, 0);  // a pause: no input wakes it
  }
  return true;
}
