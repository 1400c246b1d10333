// SFXVars.h -- the stub's process-wide state, all of it, in one place.
//
// The stub starts without the C runtime's start-up code: every global here must
// be constant-initialised (no constructor that runs code), and the module
// finalisation (EndProcess) releases what needs releasing.
#ifndef SFXKIT_STUB_SFXVARS_H
#define SFXKIT_STUB_SFXVARS_H

#include <windows.h>
#include <commctrl.h>

#include "SFXDefs.h"
#include "SFXStructs.h"

extern SfxSettingsRecord SfxSettings;  // the configuration block as read
extern SfxString ModulePath;           // the stub's own file
extern HANDLE ArchiveHandle;           // the stub's own file, read-only; null or INVALID_HANDLE_VALUE when not open
extern HIMAGELIST SystemImageList;     // shell's small-icon system image list
extern uint64_t ArchiveStart;          // file offset of the first byte behind the configuration block
extern uint64_t ArchiveBase;           // the offset the archive's recorded offsets count from (wraps as positions do)

// The ZIP signatures (LocalHeaderSignature, CentralHeaderSignature,
// EndRecordSignature) are the core's, completed at start-up.

extern EntryArray EntryList;           // file members' records, in directory order
extern uint32_t LongestName;           // UTF-16 units of the longest name in the file list

// The member being extracted (CompressedLeft, EntryCrc, CryptKeys and
// EntryEncrypted are the core's, in sfxcore.h).
extern MemberInfo CurrentEntry;
extern SfxString TemporaryFile;        // where a member replacing an existing file is written first; empty: none
extern HANDLE OutputHandle;            // null or INVALID_HANDLE_VALUE when no output file is open
extern bool DiscardOutput;            // WriteOutput takes the output and writes it nowhere
extern SfxString OutputName;
extern SfxString Password;             // UTF-8 as typed, at most 80 UTF-16 characters; empty: none known
extern SfxString TargetFile;           // full output path of the member the run handles

extern HWND MainWindow;                // the main dialog, once it initialised
extern bool CancelRequested;           // the user confirmed "Cancel unzip?"
extern bool Extracting;                // a run is under way; the dialog is re-entered through PumpMessages
extern bool ComInitialized;            // the thread entered COM for the folder browser
extern bool Silent;                    // /s: no question, no dialog shown, no boxes
extern SfxString SwitchFolder;         // /d: the target folder; empty: none given
extern ExitCode RunOutcome;            // what the main dialog's run leaves as exit code: done, incomplete, run
                                       // failed, or the exit code of the program waited for
extern const WCHAR *PassedArguments;   // the command line behind "--" (from the blank before it on), appended
                                       // to the program's parameters; null or "" when there is none
extern SfxString CreatedPaths;         // full paths of the files and folders the stub created, oldest
                                       // first, in UTF-16 as the system takes them, each ended by a zero and
                                       // followed by its identity (SFXProcsCleanup.cpp)
extern SfxString PrivateFolder;        // the private $TEMP folder the stub made for the run; empty: none
extern HANDLE PrivateFolderHandle;     // held on PrivateFolder, which nobody can move meanwhile, until the
                                       // clean-up; null or INVALID_HANDLE_VALUE when not open
extern uint64_t ProgressDone;          // what the run has done: bytes written, and one for every row passed
extern uint8_t ProgressShift;          // ProgressDone >> ProgressShift fits the progress bar's range
extern DWORD ProgressShown;            // tick count when the bar last moved and messages were let through

#endif
