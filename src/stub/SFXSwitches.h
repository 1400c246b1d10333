// SFXSwitches.h -- the command line: switches for unattended runs. Without
// switches the program behaves as its configuration block says, and nothing else.
#ifndef SFXKIT_STUB_SFXSWITCHES_H
#define SFXKIT_STUB_SFXSWITCHES_H

// Reads the program's command line into Silent, SwitchFolder and Password:
//   /s            unzip silently: no question, no dialog, no boxes; the block's
//                 overwrite policy with Ask counting as skip; the exit code says
//                 how it went
//   /d FOLDER     unzip into FOLDER (quoted when it has blanks)
//   /p PASSWORD   the password of encrypted members
//   /?            show the switches and end (exit code 0)
// Switches may also start with '-' and are read in any case. An unknown switch,
// or /d or /p without its value, shows the switches and ends with exit code 2.
void ReadSwitches();

#endif
