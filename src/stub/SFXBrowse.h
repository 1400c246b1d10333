// SFXBrowse.h -- the shell's folder browser, opened on the folder box's text.
#ifndef SFXKIT_STUB_SFXBROWSE_H
#define SFXKIT_STUB_SFXBROWSE_H

#include <windows.h>

#include "SFXString.h"

// Enters a single-threaded COM apartment for the browser, once (ComInitialized).
void EnterComApartment();
// True when the user chose a folder: path then holds it and it became the current directory.
bool BrowseForTargetFolder(HWND owner, SfxString &path);

#endif
