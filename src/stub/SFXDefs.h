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
  ExpandChars = 519,         // room for an environment expansion
  FullPathChars = 520,       // full-path expansion, registry values, member names
};

#endif
