// SFXProcsPath.cpp -- path routines shared by the whole stub: split, test, create, trim, and the system's form.
#include "SFXProcsPath.h"

#include <windows.h>

#include "SFXDefs.h"
#include "SFXProcsCleanup.h"
#include "SFXProcsFolder.h"
#include "SFXWide.h"

static bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// 0-based index of the last '\', '/' or ':'; -1 when the path has none.
static int LastSeparator(const SfxString &path) {
  for (uint32_t i = path.Length(); i > 0; i--)
    if (IsSeparator(path[i - 1])) return (int)(i - 1);
  return -1;
}

// A drive root (C:\) is its own folder, a drive-relative name keeps its drive
// (C:name gives C:), and a root's backslash stays (C:\name gives C:\) so that
// the result still names the root rather than the drive's current folder.
SfxString ExtractFolder(const SfxString &path) {
  if (path.Length() == 3 && path.FindChar(':') >= 0) return path;
  int at = LastSeparator(path);
  if (at < 0) return SfxString();
  if (path[(uint32_t)at] == ':') return path.Mid(0, (uint32_t)at + 1);
  if (at == 2 && path[1] == ':') return path.Mid(0, 3);
  return path.Mid(0, (uint32_t)at);
}

SfxString ExtractName(const SfxString &path) { return path.Mid((uint32_t)(LastSeparator(path) + 1)); }

// A short path goes as it is, so the system reads it as it always has (relative
// to the current folder, '/' and "." included). A longer one is made full first,
// which resolves those, since the \\?\ form takes every character literally.
SfxString SystemPath(const SfxString &path) {
  if (path.Length() < ShortPathBytes) return path;
  SfxString full = ExpandFullPath(path);
  if (full.Empty() || full.Find("\\\\?\\") == 0 || full.Find("\\\\.\\") == 0) return full;
  if (full.Find("\\\\") == 0) return "\\\\?\\UNC" + full.Mid(1);
  return "\\\\?\\" + full;
}

bool FolderExists(const SfxString &path) {
  DWORD attributes = GetFileAttributesW(WideText(SystemPath(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const SfxString &path) {
  return GetFileAttributesW(WideText(SystemPath(path))) != INVALID_FILE_ATTRIBUTES;
}

// Recursion ends at an existing folder or where the folder part no longer
// shrinks (a drive such as C:); nothing created is removed after a failure. A
// folder that exists once CreateDirectory returns counts as made: "C:\Out/"
// names the folder its parent step has just created. Every folder made here is
// noted for the clean-up.
bool ForceFolders(const SfxString &folder) {
  SfxString path = StripBackslashes(folder);
  if (path.Empty() || FolderExists(path)) return true;
  SfxString parent = ExtractFolder(path);
  if (parent.Equals(path)) return true;
  if (!ForceFolders(parent)) return false;
  if (!CreateDirectoryW(WideText(SystemPath(path)), nullptr)) return FolderExists(path);
  NoteCreated(path);
  return true;
}

SfxString AddBackslash(const SfxString &path) {
  if (path.Empty() || path.Last() == '\\') return path;
  return path + "\\";
}

SfxString StripBackslashes(const SfxString &path) {
  uint32_t length = path.Length();
  while (length > 0 && path[length - 1] == '\\') length--;
  return path.Mid(0, length);
}
