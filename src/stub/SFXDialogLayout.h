// SFXDialogLayout.h -- moving and enabling the main dialog's controls, and the Show files command.
#ifndef SFXKIT_STUB_SFXDIALOGLAYOUT_H
#define SFXKIT_STUB_SFXDIALOGLAYOUT_H

#include <windows.h>

// Enables or disables every visible descendant of the dialog except progress bars.
void EnableDialogControls(HWND dialog, bool enable);
// Moves the window's bottom edge, and its top edge too when moveTop, by units
// vertical dialog units.
void MoveVertically(HWND window, bool moveTop, int units);
// Shows the file list band and makes room for it (command 105).
void ShowFilesCommand(HWND dialog);

#endif
