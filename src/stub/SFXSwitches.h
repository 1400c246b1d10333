// SFXSwitches.h -- the command line: switches for unattended runs. Without
// switches the program behaves as its configuration block says, and nothing else.
#ifndef SFXKIT_STUB_SFXSWITCHES_H
#define SFXKIT_STUB_SFXSWITCHES_H

// Reads the whole command line into Silent, SwitchFolder, Password and
// PassedArguments, then acts:
//   /s            unzip silently: no question, no dialog, no boxes; the block's
//                 overwrite policy with Ask counting as skip; the exit code says
//                 how it went
//   /d FOLDER     unzip into FOLDER (quoted when it has blanks)
//   /p PASSWORD   the password of encrypted members
//   /?            show the switches and end (exit code 0)
//   -- ARGUMENTS  the rest of the line, as written, is appended to the
//                 parameters of the program run after unzip (PassedArguments)
// Switches may also start with '-' and are read in any case. An unknown switch,
// or /d or /p without its value (nothing, an empty one, or another switch),
// shows the switches and ends with exit code 2; with /s anywhere on the line
// the box is left out. A folder whose closing quote a trailing backslash
// escaped (`/d "C:\Target\" /s`) ends at that quote.
void ReadSwitches();

#endif
