// SFXProcsCleanup.cpp -- what the stub creates on disk, noted as it goes, and its removal at the end.
//
// The end removes by identity, not by name: while the program runs, anybody who
// may write to the target can replace a folder the run made by a link or a
// junction to somewhere else, and a name that led to a file of ours would then
// lead to a file of theirs. So each object is opened on a handle that does not
// follow a link at its own name, checked to be the very object that was created
// (a path through a replaced folder reaches another one), and deleted through
// that handle.
#include "SFXProcsCleanup.h"

#include <string.h>

#include "SFXDefs.h"
#include "SFXProcsExtract.h"
#include "SFXProcsFolder.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

enum : int { RemoveTries = 6 };  // with the pauses between them, about 2.5 seconds
enum : DWORD { RemoveRetryMs = 500 };
enum : DWORD { ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE };

// What CreatedPaths holds behind each path and its zero: the object's identity
// when it was created, and the path's length, by which the end walks the list
// back from its newest entry. Copied in and out with memcpy: a path of odd
// length leaves it on a 2-byte boundary.
struct CreatedIdentity {
  DWORD Volume;     // serial number of the volume the object is on
  DWORD IndexHigh;  // the object's file index on that volume
  DWORD IndexLow;
  DWORD Chars;      // UTF-16 units of the path before it, its zero not counted
};
static_assert(sizeof(CreatedIdentity) == 16, "four DWORDs, no padding");

// How one noted object fared at the end.
enum class Removal { Removed, Stays, InUse, Foreign };

HANDLE OpenItself(const WCHAR *path, DWORD access, DWORD share) {
  return CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Full paths: the current folder may change before the end (Close makes the
// target folder current), and a relative path would then name something else.
// Noted as the system takes them, in UTF-16, so that the end hands them over as
// they are; a name with a zero in it is noted up to that zero, as the system
// took it. An identity the system does not give stays zero, which the end takes
// for another object's unless the system gives it none then either.
void NoteCreated(const SfxString &path, HANDLE handle) {
  WideText full(SystemPath(ExpandFullPath(path)));
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE) handle = opened = OpenItself(full, FILE_READ_ATTRIBUTES, ShareAll);
  BY_HANDLE_FILE_INFORMATION info = {};
  GetFileInformationByHandle(handle, &info);
  CloseFileHandle(opened);
  CreatedIdentity identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                              (DWORD)lstrlenW(full)};
  CreatedPaths.Append((const char *)full.Data(), (identity.Chars + 1) * sizeof(WCHAR));
  CreatedPaths.Append((const char *)&identity, sizeof identity);
}

bool CleanUpApplies() {
  return (SfxSettings.Options & OptCleanUp) ||
         ((SfxSettings.Options & OptWaitForRun) && !PrivateFolder.Empty() &&
          SfxSettings.TargetFolder.Equals(PrivateFolder));
}

// Removes one noted object if it is still the one noted and not a link. Gone
// already (its folder included) is as good as removed; a folder that holds
// anything is meant to stay; an object that cannot be opened or deleted is in
// use (a program that has just ended may hold its folder as its working folder
// a moment longer, or have a file open).
static Removal RemoveNoted(const WCHAR *path, const CreatedIdentity &noted) {
  HANDLE handle = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES, ShareAll);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::Removed : Removal::InUse;
  }
  Removal removal = Removal::Foreign;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) && info.dwVolumeSerialNumber == noted.Volume &&
      info.nFileIndexHigh == noted.IndexHigh && info.nFileIndexLow == noted.IndexLow &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    removal = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)
                  ? Removal::Removed
              : GetLastError() == ERROR_DIR_NOT_EMPTY ? Removal::Stays
                                                      : Removal::InUse;
  }
  CloseHandle(handle);
  return removal;
}

// One walk over the noted objects not settled yet, newest first. Removed and
// foreign ones are settled (their path's first unit set to zero); foreign sets
// `foreign`. False when something is in use.
static bool RemovePass(bool &foreign) {
  bool inUse = false;
  char *bytes = CreatedPaths.SetLength(CreatedPaths.Length());
  for (uint32_t end = CreatedPaths.Length(); end > 0;) {
    CreatedIdentity noted;
    end -= sizeof noted;
    memcpy(&noted, bytes + end, sizeof noted);
    end -= (noted.Chars + 1) * sizeof(WCHAR);
    WCHAR *path = (WCHAR *)(bytes + end);
    if (!*path) continue;
    Removal removal = RemoveNoted(path, noted);
    if (removal == Removal::InUse) inUse = true;
    if (removal == Removal::Foreign) foreign = true;
    if (removal == Removal::Removed || removal == Removal::Foreign) *path = 0;
  }
  return !inUse;
}

bool RemoveCreated() {
  // The private folder is held so that nobody can move it while the run uses
  // it; Close and the folder browser make a folder current, which the stub
  // would then hold itself.
  CloseFileHandle(PrivateFolderHandle);
  SetCurrentDirectoryW(L"\\");
  // Without a clean-up only the folders made for nothing go, in one pass: the
  // program started (and not waited for) may work in one for a long time yet.
  bool cleanUp = CleanUpApplies(), foreign = false;
  for (int attempt = 1; !RemovePass(foreign); attempt++) {
    if (!cleanUp || attempt == RemoveTries) return !cleanUp;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, RemoveRetryMs, 0);  // a pause: no input wakes it
  }
  return !(cleanUp && foreign);
}
