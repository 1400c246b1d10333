// SFXDefs.h -- the stub's constants: control IDs, buffer sizes and exit codes. The option
// bits, overwrite modes and record layouts are the file format's (zipformat.h).
#ifndef SFXKIT_STUB_SFXDEFS_H
#define SFXKIT_STUB_SFXDEFS_H

#include "zipformat.h"

// Control IDs shared by the templates and the procedures.
enum : int {
  IdHelp = 103,
  IdBrowse = 104,
  IdShowFiles = 105,
  IdEdit = 201,            // folder box of MAINDIALOG, question of FILEEXIST, password of PASSWD
  IdSeparatorTop = 202,
  IdRunCheck = 302,        // Run check box of MAINDIALOG
  IdDontAskAgain = 301,    // check box of FILEEXIST
  IdFileList = 401,
  IdFilesLabel = 501,
  IdSeparatorButtons = 502,
  IdFolderLabel = 601,
  IdOverwriteGroup = 602,
  IdOverwrite = 701,
  IdDontOverwrite = 702,
  IdAsk = 703,
  IdProgress = 801,
};

// Buffer sizes in characters.
enum : unsigned {
  SystemPathChars = 260,     // directories supplied by the system
  FullPathChars = 520,       // the folder browser's choice
  LongPathChars = 32767,     // the longest path, expansion or registry text the system takes
  ShortPathBytes = 240,      // a path this long (UTF-8) still fits every call that stops at MAX_PATH
};

// The stub's own exit codes; the README and the switches box list them too. With
// OptWaitForRun the program's exit code takes the place of ExitDone.
enum ExitCode : unsigned {
  ExitDone = 0,         // all selected members unpacked, or the user closed the dialog or declined the question
  ExitFatal = 1,        // FatalError: own file unreadable or damaged, a write failed, no dialog, no target folder
  ExitIncomplete = 2,   // an automatic or silent run left members behind, or a wrong switch
  ExitRunFailed = 3,    // everything unpacked, but the program to run afterwards could not be started
  ExitLeftBehind = 4,   // the program waited for ended with 0, but the clean-up left files in use or no longer
                        // the ones it made, or removed nothing: the shell handed the file to a running program
};

#endif
