// SFXStrings.h -- every text the stub shows, in one place.
#ifndef SFXKIT_STUB_SFXSTRINGS_H
#define SFXKIT_STUB_SFXSTRINGS_H

#define STR_DEFAULT_TITLE CFG_DEFAULT_TITLE  // zipformat.h: sfxmake shows it too
#define STR_ERROR_CAPTION "Error"
#define STR_HELP_CAPTION "Help"
#define STR_CORRUPT "Cannot unzip: file is corrupt."
#define STR_ERROR_READING "Error reading zip %s"
#define STR_CANNOT_WRITE "Cannot write to %s"
#define STR_CRC_ERROR "CRC-32 error in %s"
#define STR_CANNOT_CLOSE "Cannot close %s"
#define STR_FOLDER_ERROR "Error in folder %s"
#define STR_FILE_EXISTS "%s already exists. Overwrite?"
#define STR_RUN_CHECKBOX "After unzip, run %s %s"
#define STR_CANNOT_RUN "Cannot run %s %s"
#define STR_UNKNOWN_METHOD "Unknown compression type"
#define STR_NAME_OUTSIDE "%s was not unzipped: its name leads outside the target folder."
#define STR_NAME_DEVICE "%s was not unzipped: its name is reserved for a device."
#define STR_ALL_UNZIPPED "All files have been unzipped."
#define STR_CANCEL_UNZIP "Cancel unzip?"
#define STR_DIALOG_CAPTION "Extracting files..."
#define STR_ENTER_PASSWORD "Enter password:"
#define STR_CHOOSE_FOLDER "Choose the target folder"
#define STR_OUT_OF_MEMORY "Out of memory."
#define STR_NO_MEMORY_FOR "Not enough memory to unzip %s"
#define STR_SWITCHES                                                            \
  "This self-extracting program takes these switches:\r\n\r\n"                \
  "/s\tunzip silently: no questions, no dialog, no messages\r\n"             \
  "/d folder\tunzip into this folder\r\n"                                     \
  "/p password\tthe password of encrypted files\r\n"                          \
  "-- ...\tfor the program run after unzip\r\n"                              \
  "/?\tthis list\r\n\r\n"                                                     \
  "Exit code: 0 done, 1 damaged program, write error or no folder,\r\n"       \
  "2 not every file unzipped or a wrong switch, 3 the program after\r\n"      \
  "unzip did not start, 4 unzipped files left behind; or that\r\n"           \
  "program's own exit code when it is waited for."
#define STR_HELP_TEXT                                                          \
  "This is a self-extracting zip file.\r\n\r\nClick the browse button '...' " \
  "to select or create a target folder,\r\nthen click Unzip to unzip the "    \
  "contents to this folder."

#endif
