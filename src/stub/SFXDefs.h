// SFXDefs.h -- the stub's constants: control IDs and buffer sizes. The option
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
  FullPathChars = 520,       // the stub's own path, the folder browser's choice
  LongPathChars = 32767,     // the longest path, expansion or registry text the system takes
  ShortPathBytes = 240,      // a path this long (UTF-8) still fits every call that stops at MAX_PATH
};

#endif
