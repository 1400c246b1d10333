// SFXProcsExtract.cpp -- the extraction engine: one member to disk, the run over the list, and the clean-up at the end.
#include "SFXProcsExtract.h"

#include <commctrl.h>
#include <string.h>

#include "SFXDefs.h"
#include "SFXProcsCleanup.h"
#include "SFXFileList.h"
#include "SFXProcsFile.h"
#include "SFXProcsPath.h"
#include "SFXPrompts.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"
#include "decode.h"
#include "decrypt.h"
#include "lzmadec.h"

enum : int { MaxPasswordTries = 3, MaxTemporaryTries = 100 };
enum : DWORD { ProgressMs = 50 };  // the longest a run goes without a look at its messages

bool CloseFileHandle(HANDLE &handle) {
  bool closed = true;
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) closed = CloseHandle(handle) != FALSE;
  handle = INVALID_HANDLE_VALUE;
  return closed;
}

static void DiscardTemporaryFile() {
  if (TemporaryFile.Empty()) return;
  DeleteFileW(WideText(SystemPath(TemporaryFile)));
  TemporaryFile = SfxString();
}

void FinalizeProcs() {
  ReleaseMemory(EntryList.Items);
  EntryList = EntryArray();
  if (!CloseFileHandle(ArchiveHandle)) ShowErrorBox(nullptr, SubstituteText(STR_CANNOT_CLOSE, ModulePath));
  if (!CloseFileHandle(OutputHandle)) ShowErrorBox(nullptr, SubstituteText(STR_CANNOT_CLOSE, OutputName));
  DiscardTemporaryFile();
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A DOS time is the local time of the writer's zone; it is converted with the
// rule in force on its own date, so that a summer member unpacked in winter keeps
// its hour.
void SetFileDateTime(HANDLE handle, uint32_t dosDateTime) {
  FILETIME local, utc;
  SYSTEMTIME localTime, utcTime;
  if (!DosDateTimeToFileTime((WORD)(dosDateTime >> 16), (WORD)dosDateTime, &local) ||
      !FileTimeToSystemTime(&local, &localTime) || !TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime) ||
      !SystemTimeToFileTime(&utcTime, &utc))
    return;
  SetFileTime(handle, nullptr, nullptr, &utc);
}

// An exact time from the member's extra field wins over its DOS time.
static void SetMemberTime(HANDLE handle, const MemberInfo &member) {
  if (member.ModifiedUtc) {
    FILETIME utc = {(DWORD)member.ModifiedUtc, (DWORD)(member.ModifiedUtc >> 32)};
    SetFileTime(handle, nullptr, nullptr, &utc);
  } else {
    SetFileDateTime(handle, ((uint32_t)Field16(member, EntryDosDate) << 16) | Field16(member, EntryDosTime));
  }
}

// Shows the message about OutputName in an error box; false, the member's result then.
static bool OutputFailed(HWND owner, const char *message) {
  ShowErrorBox(owner, SubstituteText(message, OutputName));
  return false;
}

// A member no decoder here can read (nor, for AES, the system's cipher); false.
static bool UnknownMethod(HWND owner) {
  ShowErrorBox(owner, STR_UNKNOWN_METHOD);
  return false;
}

static HANDLE OpenForWriting(const SfxString &path, DWORD disposition) {
  // Read attributes: the clean-up notes the new file's identity through this handle.
  return CreateFileW(WideText(SystemPath(path)), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file beside path under a name of our own: "~sfx", a number that differs
// from process to process, ".tmp"; a name taken already moves on to the next
// number. Sets TemporaryFile only to a file created here, so that nobody else's
// file is ever removed as ours.
static HANDLE CreateTemporaryFile(const SfxString &path) {
  SfxString stem = AddBackslash(ExtractFolder(path)) + "~sfx";
  uint32_t number = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < MaxTemporaryTries; attempt++) {
    SfxString name = stem + DecimalText(number + (uint32_t)attempt) + ".tmp";
    HANDLE handle = OpenForWriting(name, CREATE_NEW);
    if (handle != INVALID_HANDLE_VALUE) {
      TemporaryFile = name;
      return handle;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Creates the member's output file. A name not taken yet, the common case, is
// created at once: asked first whether it exists, wine would read the whole
// folder for a name that is not there, for every member. A file of that name is
// never truncated: the member goes into a temporary file beside it
// (TemporaryFile), which takes its place only once the member proved sound. The
// original must still be one the member could have overwritten: writable, and
// neither hidden nor a system file, which the system refuses to replace with a
// normal file. An AES member always goes to a temporary file: its code vouches
// for the data only at the end, and until then no byte of it may stand under
// its own name, where a flipped bit of the ciphertext would flip one of the
// file unnoticed. isNew tells whether the name was free.
static bool CreateOutput(HWND owner, const SfxString &path, bool &isNew) {
  OutputName = path;
  OutputHandle = EntryAes ? INVALID_HANDLE_VALUE : OpenForWriting(path, CREATE_NEW);
  isNew = OutputHandle != INVALID_HANDLE_VALUE;
  if (isNew) {
    // Only a clean-up needs the files: the end otherwise removes no file, and
    // looking at each of them there would only take time.
    if (CleanUpApplies()) NoteCreated(path, OutputHandle);
  } else {
    DWORD attributes = GetFileAttributesW(WideText(SystemPath(path)));  // INVALID_FILE_ATTRIBUTES has the hidden bit too
    isNew = attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
    HANDLE original = isNew ? INVALID_HANDLE_VALUE : OpenForWriting(path, OPEN_EXISTING);
    bool replaceable = original != INVALID_HANDLE_VALUE && !(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    CloseFileHandle(original);
    if (replaceable || (isNew && EntryAes)) OutputHandle = CreateTemporaryFile(path);
  }
  if (OutputHandle != INVALID_HANDLE_VALUE) return true;
  return OutputFailed(owner, STR_CANNOT_WRITE);
}

// Puts the sound member (TemporaryFile) in the original's place, or under its
// free name. ReplaceFileW keeps what the original was (creation time, security,
// streams); any failure of it (no original, for one) leaves the original in
// place, or gone with the member still under its temporary name, and either way
// the plain rename is what is left to do (a file system that cannot replace). A path past MAX_PATH goes straight to
// the rename: some implementations of ReplaceFileW copy it into a buffer of
// that size. Should the original be gone and the rename fail as well, the
// member stays under its temporary name rather than be lost too.
static bool ReplaceOriginal() {
  SfxString original = SystemPath(OutputName), replacement = SystemPath(TemporaryFile);
  bool fits = original.Length() < ShortPathBytes && replacement.Length() < ShortPathBytes;
  if ((fits && ReplaceFileW(WideText(original), WideText(replacement), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr)) ||
      MoveFileExW(WideText(replacement), WideText(original), MOVEFILE_REPLACE_EXISTING))
    return true;
  if (!PathExists(OutputName)) TemporaryFile = SfxString();
  return false;
}

// The output refused the member's data: a failed write, which is fatal, or the
// user's cancel, which ends the member without a trace: its partial file goes
// (the temporary one, when it was to replace an original, which stays as it was).
static bool OutputStopped() {
  if (!CancelRequested) FatalError(SubstituteText(STR_CANNOT_WRITE, OutputName));
  CloseFileHandle(OutputHandle);
  if (TemporaryFile.Empty()) TemporaryFile = OutputName;
  DiscardTemporaryFile();
  return false;
}

// Settles the password of an encrypted member standing at its encryption header:
// the remembered one first, then up to three prompts. Accepted when one passed;
// the keys then stand at the member's first data byte.
static PasswordCheck SettlePassword(HWND owner) {
  uint8_t header[2 * MaxProtectionHeader];  // the first half for each try, the second as read
  ReadArchiveExact(header + MaxProtectionHeader, ProtectionHeaderSize(CurrentEntry));
  PasswordCheck check = CheckPasswordForms(CurrentEntry, header);
  for (int attempt = 0; check == PasswordCheck::Refused && attempt < MaxPasswordTries && !Silent; attempt++) {
    if (DialogBoxParamW(GetModuleHandleW(nullptr), L"PASSWD", owner, PasswordDialogProc, 0) != IDOK) break;
    check = CheckPasswordForms(CurrentEntry, header);
    if (check == PasswordCheck::Refused) Beep(0, 0);
  }
  return check;
}

bool ExtractEntry(HWND owner, const SfxString &path, const MemberInfo &entry, bool &passwordFailed) {
  passwordFailed = false;
  bool pass = path.Empty();
  CurrentEntry = entry;
  SelectProtection(CurrentEntry);
  if (memcmp(CurrentEntry.Bytes + EntrySignature, CentralHeaderSignature, 4) != 0)
    FatalError(SubstituteText(STR_ERROR_READING, ModulePath));

  uint16_t method = DataMethod(CurrentEntry);
  if (!MethodDecodable(method)) return pass || UnknownMethod(owner);

  uint8_t local[LocalHeaderSize];
  uint32_t skip;
  SeekArchive((int64_t)(ArchiveBase + CurrentEntry.LocalHeaderOffset), SeekFromStart);
  ReadArchiveExact(local, LocalHeaderSize);
  if (!LocalHeaderSkip(local, &skip)) FatalError(SubstituteText(STR_ERROR_READING, ModulePath));
  if (!MemberDataFits(CurrentEntry, skip)) FatalError(STR_CORRUPT);  // it would share bytes with another member
  SeekArchive(skip, SeekFromCurrent);

  CompressedLeft = (int64_t)CurrentEntry.CompressedSize;  // from the ZIP64 field where the record holds 0xFFFFFFFF
  if (EntryEncrypted) {
    CompressedLeft -= ProtectionOverhead(CurrentEntry);
    PasswordCheck check = SettlePassword(owner);
    if (check != PasswordCheck::Accepted && method == MethodSolid) SolidMemberFailed();
    if (check == PasswordCheck::NoCipher) return UnknownMethod(owner);
    passwordFailed = check == PasswordCheck::Refused;
    if (passwordFailed) return false;
  }

  EntryCrc = 0xFFFFFFFFu;
  if (CancelRequested) return false;

  bool solid = method == MethodSolid;
  bool isNew = false;
  if (!pass && !CreateOutput(owner, path, isNew)) return false;

  // A stored member cut short by the end of the archive is fatal; a compressed
  // one stops where its data does, and its CRC-32 tells. A refused write is
  // fatal unless the user cancelled. An LZMA dictionary the system cannot give
  // fails this member alone, like damage: a later member may need less (one of
  // a solid block fails its block's later members too).
  DiscardOutput = pass;
  DecodeResult decoded = DecodeMemberData(method, CurrentEntry.UncompressedSize);
  DiscardOutput = false;
  if (decoded == DecodeResult::OutputRefused) return !pass && OutputStopped();
  if (decoded == DecodeResult::ArchiveEnded && method == MethodStored) FatalError(STR_CORRUPT);
  // A wrong authentication code, and data longer or shorter than the member's
  // declared size, are damage like a wrong CRC-32, and reported alike.
  const char *failure = decoded == DecodeResult::NoMemory ? STR_NO_MEMORY_FOR
                        : decoded == DecodeResult::TooLong || JudgeMemberData(CurrentEntry) != DataVerdict::Sound
                            ? STR_CRC_ERROR
                            : nullptr;
  if (failure && solid) SolidMemberFailed();
  if (pass) return !failure;
  SetMemberTime(OutputHandle, CurrentEntry);
  bool result = !failure || OutputFailed(owner, failure);
  // A sound member that took a free name through a temporary file is the run's
  // own: noted while its handle is open (the rename keeps the identity).
  if (result && isNew && !TemporaryFile.Empty() && CleanUpApplies()) NoteCreated(path, OutputHandle);

  // A fatal read or write above never gets here: the finalisation closes the
  // file then, and removes a temporary one.
  if (!CloseFileHandle(OutputHandle)) result = OutputFailed(owner, STR_CANNOT_CLOSE);
  // A failed member of a solid block leaves no file it created: its data, and
  // that of the block's later members, cannot be had.
  if (!result && solid && TemporaryFile.Empty()) TemporaryFile = OutputName;
  if (!TemporaryFile.Empty() && result && !ReplaceOriginal()) result = OutputFailed(owner, STR_CANNOT_WRITE);
  DiscardTemporaryFile();
  return result;
}

// Why a stored name (separators already backslashes) must not be written, as a
// message template with one "%s" for the name; null when it is safe to join to
// the target folder. Refused: absolute names, any colon (drive letters, streams),
// a component that climbs to a parent, a component that names a device.
static const char *RefusedNameReason(const SfxString &name) {
  switch (RefuseName(name.Text(), name.Length())) {
    case NameLeavesFolder: return STR_NAME_OUTSIDE;
    case NameIsDevice: return STR_NAME_DEVICE;
    case NameAccepted: break;
  }
  return nullptr;
}

// What the run does with a member whose target already exists, by OverwriteMode.
static bool MayOverwrite(HWND dialog) {
  if (SfxSettings.OverwriteMode == ModeOverwrite || !PathExists(TargetFile)) return true;
  if (SfxSettings.OverwriteMode == ModeDontOverwrite || Silent) return false;  // nobody to ask
  return DialogBoxParamW(GetModuleHandleW(nullptr), L"FILEEXIST", dialog, FileExistDialogProc, 0) != IDCANCEL;
}

// Done for every row and every piece of output, drawing the bar and asking for
// messages would take longer than unpacking small members: every ProgressMs does.
bool AdvanceProgress(uint32_t work) {
  ProgressDone += work;
  DWORD now = GetTickCount();
  if (now - ProgressShown >= ProgressMs) {
    ProgressShown = now;
    SendDlgItemMessageA(MainWindow, IdProgress, PBM_SETPOS, (WPARAM)(ProgressDone >> ProgressShift), 0);
    PumpMessages();
  }
  return !CancelRequested;
}

bool RunExtraction(HWND dialog) {
  HWND list = GetDlgItem(dialog, IdFileList);
  int count = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
  // The bar counts every row's bytes and one for the row itself, so that empty
  // members move it too, scaled down to the 31 bits of its range. The rows
  // stand in EntryList's order.
  uint64_t total = 0;
  for (uint32_t i = 0; i < EntryList.Count; i++) total += EntryList.Items[i].UncompressedSize + 1;
  for (ProgressShift = 0; total >> ProgressShift > 0x7FFFFFFF;) ProgressShift++;
  SendDlgItemMessageA(dialog, IdProgress, PBM_SETRANGE32, 0, (LPARAM)(total >> ProgressShift));
  ProgressShown = GetTickCount() - ProgressMs;
  uint64_t passed = 0;  // the work of the rows before this one
  bool passwordFailed = false;
  int lastSolidRow = -1;  // the last selected row that holds a member of a solid block
  for (int row = 0; row < count; row++)
    if (DataMethod(EntryList.Items[row]) == MethodSolid &&
        SendMessageA(list, LVM_GETITEMSTATE, (WPARAM)row, LVIS_SELECTED) == LVIS_SELECTED)
      lastSolidRow = row;
  for (int row = 0; row < count && !passwordFailed; row++) {
    ProgressDone = passed;
    passed += EntryList.Items[row].UncompressedSize + 1;
    if (!AdvanceProgress(1)) break;
    MemberInfo entry;
    SfxString name;
    GetFileItem(row, entry, name);
    // A member of a solid block that is not written is still decoded, written
    // nowhere, while a later selected row may need its dictionary.
    SfxString target;
    if (SendMessageA(list, LVM_GETITEMSTATE, (WPARAM)row, LVIS_SELECTED) == LVIS_SELECTED) {
      // Checked before anything touches the disk: such a member creates nothing, anywhere.
      if (const char *reason = RefusedNameReason(name)) {
        ShowErrorBox(dialog, SubstituteText(reason, name));
      } else {
        TargetFile = AddBackslash(SfxSettings.TargetFolder) + name;
        SfxString folder = ExtractFolder(TargetFile);
        if (!ForceFolders(folder)) {
          ShowErrorBox(dialog, SubstituteText(STR_FOLDER_ERROR, folder));
          break;
        }
        if (MayOverwrite(dialog)) target = TargetFile;
      }
    }
    if (target.Empty() && (DataMethod(entry) != MethodSolid || row >= lastSolidRow)) continue;
    bool ok = ExtractEntry(dialog, target, entry, passwordFailed);
    if (ok && !target.Empty()) DeselectFileItem(row);
  }
  SolidRelease();
  bool complete = SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0;
  if (!complete) ShowFirstSelectedItem(list);
  return complete;
}
