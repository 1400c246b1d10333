// SFXProcsFolder.cpp -- folder macros ($T, $W, $S, registry), the default target folder and the private $TEMP folder.
//
// Nothing here is fatal: whatever cannot be resolved, or does not fit the
// buffers the platform is given, gives an empty folder, which the main dialog
// shows as an empty folder box.
#include "SFXProcsFolder.h"

#include <windows.h>
#include <ntsecapi.h>

#include "SFXDefs.h"
#include "SFXProcsCleanup.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The registry roots a macro may name, found by the position at which its root
// text first occurs here; shortened roots that begin at one of these positions
// ($H, $HL) are accepted the same way.
static const char RegistryRootTable[] = "$CURUSER$HCU$LOCAL$HLM$USERS$HU";

// The private $TEMP folder is remembered in the form the run is given, so that
// the clean-up can tell whether the run went there (CleanUpApplies).
SfxString ResolveTargetFolder(const SfxString &text, uint32_t folderLength) {
  if (folderLength < 2) return GetCurrentFolder();
  SfxString folder = text;
  bool temporary = false;
  if (!folder.Empty() && folder[0] == '$') {  // a one-byte text reads its terminator as [1]
    switch (folder[1]) {
      case 'T': folder = MakeTempFolder(); temporary = true; break;
      case 'W': folder = GetSystemFolder(false); break;
      case 'S': folder = GetSystemFolder(true); break;
      default: folder = ReadRegistryFolder(folder); break;
    }
  }
  if (folder.Empty()) return folder;
  folder = ExpandFullPath(ExpandEnvironment(folder));
  if (temporary) PrivateFolder = folder;
  return folder;
}

bool RunsElevated() {
  HANDLE token;
  TOKEN_ELEVATION elevation = {};
  DWORD size;
  if (!OpenProcessToken((HANDLE)-1, TOKEN_QUERY, &token)) return false;  // the current process
  GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return elevation.TokenIsElevated != 0;
}

// The descriptor in its self-relative form, as a constant: the system builds
// none at run time, and the stub carries no text for it to read. Its text form
// is D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA).
alignas(4) static const uint8_t ProtectedFolderDescriptor[] = {
    1, 0, 0x04, 0x90,             // revision; control: DACL present, protected, self-relative
    0, 0, 0, 0, 0, 0, 0, 0,       // no owner, no group (the system gives the creator's)
    0, 0, 0, 0, 20, 0, 0, 0,      // no SACL; the DACL at 20
    2, 0, 52, 0, 2, 0, 0, 0,      // DACL: revision 2, 52 bytes, 2 entries
    0, 3, 20, 0,                  // allow, inherited by files and folders, 20 bytes
    0xFF, 0x01, 0x1F, 0x00,       //   FILE_ALL_ACCESS
    1, 1, 0, 0, 0, 0, 0, 5,       //   S-1-5-18 (SYSTEM)
    18, 0, 0, 0,
    0, 3, 24, 0,                  // allow, inherited by files and folders, 24 bytes
    0xFF, 0x01, 0x1F, 0x00,       //   FILE_ALL_ACCESS
    1, 2, 0, 0, 0, 0, 0, 5,       //   S-1-5-32-544 (Administrators)
    32, 0, 0, 0, 0x20, 0x02, 0, 0,
};
static_assert(sizeof ProtectedFolderDescriptor == 72, "header 20, DACL header 8, entries 20 and 24");

const void *PrivateFolderSecurity(bool elevated) { return elevated ? ProtectedFolderDescriptor : nullptr; }

// A new folder of its own in the user's temporary folder, "_zip" and a random
// number the system's random source draws. An existing one is never taken:
// whoever made it may have put files in it, so another name is drawn (as it is
// after any failure: a few tries cost nothing where none can succeed). Made at
// once, so that nobody can take the name first, with the security an elevated
// run needs (PrivateFolderSecurity), held open without leave to delete it
// (PrivateFolderHandle), so that nobody can move it aside and put a folder of
// theirs in its place, and noted as the stub's own (NoteCreated): the end
// removes it again when it stayed empty. Empty when none could be made.
SfxString MakeTempFolder() {
  enum : int { MaxTempFolderTries = 16 };
  SECURITY_ATTRIBUTES security = {sizeof security, (void *)PrivateFolderSecurity(RunsElevated()), FALSE};
  SfxString prefix = AddBackslash(ExpandEnvironment("%temp%")) + "_zip";
  for (int attempt = 0; attempt < MaxTempFolderTries; attempt++) {
    uint64_t number;
    if (!RtlGenRandom(&number, sizeof number)) break;
    SfxString folder = prefix + DecimalText(number);
    // Not in the long form: a temporary folder is a short path (one past
    // MAX_PATH gives no folder, and an empty folder box).
    WideText wide(folder);
    if (CreateDirectoryW(wide, &security)) {
      PrivateFolderHandle = OpenItself(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
      NoteCreated(folder, PrivateFolderHandle);
      return folder;
    }
  }
  return SfxString();
}

SfxString GetSystemFolder(bool systemDirectory) {
  WideBuffer folder(SystemPathChars);
  return folder.Result(systemDirectory ? GetSystemDirectoryW(folder, SystemPathChars)
                                       : GetWindowsDirectoryW(folder, SystemPathChars));
}

// Macro form: root\key path\value name, optionally followed by "+" and a suffix
// appended to the value's data. No value name (nothing behind the last
// backslash) asks for the key's default value.
SfxString ReadRegistryFolder(const SfxString &macro) {
  int slash = macro.FindChar('\\');
  if (slash < 0) return SfxString();
  SfxString root = UpperCaseAscii(macro.Mid(0, (uint32_t)slash));
  SfxString rest = macro.Mid((uint32_t)slash + 1);
  SfxString suffix;
  int plus = rest.FindChar('+');
  if (plus >= 0) {
    suffix = rest.Mid((uint32_t)plus + 1);
    rest.Truncate((uint32_t)plus);
  }
  SfxString valueName;
  int last = rest.FindLastChar('\\');
  if (last >= 0 && (uint32_t)last + 1 < rest.Length()) {
    valueName = rest.Mid((uint32_t)last + 1);
    rest.Truncate((uint32_t)last);
  }

  HKEY rootKey;
  switch (root.Empty() ? -1 : SfxString(RegistryRootTable).Find(root.Text())) {
    case 0: case 8: rootKey = HKEY_CURRENT_USER; break;
    case 12: case 18: rootKey = HKEY_LOCAL_MACHINE; break;
    case 22: case 28: rootKey = HKEY_USERS; break;
    default: return SfxString();
  }

  SfxString result;
  HKEY key;
  if (RegOpenKeyExW(rootKey, WideText(rest), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return result;
  WideBuffer data(LongPathChars);
  DWORD size = LongPathChars * sizeof(WCHAR);
  if (RegQueryValueExW(key, WideText(valueName), nullptr, nullptr, (BYTE *)(WCHAR *)data, &size) == ERROR_SUCCESS) {
    // The data without its terminating zero; a value stored without one loses
    // its last character, and nothing behind an embedded zero is taken.
    uint32_t chars = size / sizeof(WCHAR);
    result = data.Text(chars ? chars - 1 : 0);
    result.Append(suffix);
  }
  RegCloseKey(key);
  return result;
}

// The expansion's length counts its terminating zero: given one character less
// than the buffer holds, an expansion that fits returns less than the buffer's size.
SfxString ExpandEnvironment(const SfxString &text) {
  WideBuffer expanded(LongPathChars);
  return expanded.Result(ExpandEnvironmentStringsW(WideText(text), expanded, LongPathChars - 1));
}

// The text of a system call fill(buffer, size) that returns the length it wrote,
// or the size it needs (its terminating zero counted) when the buffer is too
// small, or 0 when it fails: asked for the size first, so no path is too long
// for the buffer; a text that grew between the two calls comes out empty.
template <typename Fill>
static SfxString SystemText(Fill fill) {
  DWORD size = fill(nullptr, 0);
  WideBuffer text(size);
  return text.Result(fill(text, size));
}

SfxString ExpandFullPath(const SfxString &path) {
  WideText wide(path);
  return SystemText([&](WCHAR *buffer, DWORD size) { return GetFullPathNameW(wide, size, buffer, nullptr); });
}

SfxString UpperCaseAscii(const SfxString &text) {
  SfxString upper = text;
  char *bytes = upper.SetLength(upper.Length());
  for (uint32_t i = 0; i < upper.Length(); i++)
    if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = (char)(bytes[i] - 'a' + 'A');
  return upper;
}

SfxString GetCurrentFolder() {
  return SystemText([](WCHAR *buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); });
}
