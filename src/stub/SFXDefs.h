// SFXDefs.h -- the stub's constants: option bits, overwrite modes, control IDs, buffer sizes.
#ifndef SFXKIT_STUB_SFXDEFS_H
#define SFXKIT_STUB_SFXDEFS_H

// Options bits of the configuration block.
enum : unsigned {
  OptRunCheckBox = 0x0001,
  OptSelectFiles = 0x0002,
  OptHideOverwrite = 0x0004,
  OptAutoUnzip = 0x0008,
  OptNoDoneMessage = 0x0010,
  OptHideFileList = 0x0040,
  OptNoShowFiles = 0x0080,
  OptAllowCancel = 0x0200,
};

// OverwriteMode values; the main dialog's radio button of a mode is IdOverwrite + mode.
enum : unsigned char { ModeOverwrite = 0, ModeDontOverwrite = 1, ModeAsk = 2 };

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
  IdFileExistIcon = 5102,
};

// Buffer sizes in characters.
enum : unsigned {
  SystemPathChars = 260,     // directories supplied by the system
  ExpandChars = 519,         // room for an environment expansion
  FullPathChars = 520,       // full-path expansion, registry values, member names
  MaxNameLength = 520,       // longest member name the directory reader accepts
  MaxPasswordLength = 80,
  BlockSize = 32768,         // member data moves in blocks of this size
  EndRecordWindow = 65558,   // 22 + 65536 bytes searched for the end record
};

#endif
