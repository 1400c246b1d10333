// SFXFileList.h -- the file list (control 401 of the main dialog): rows, selection, EntryList.
// A row's item data is its member's index in EntryList. Everything but SetUpFileList
// works on the list of the dialog SetUpFileList was last given.
#ifndef SFXKIT_STUB_SFXFILELIST_H
#define SFXKIT_STUB_SFXFILELIST_H

#include <windows.h>

#include "SFXStructs.h"

// Columns, full-row selection and the shared system image list.
void SetUpFileList(HWND dialog);
// While held, rows go in and change without the list laying itself out or
// drawing; on release it does both once, and keeps the visibility it had.
void HoldFileList(bool hold);
void AddFileItem(const SfxString &name, const MemberInfo &entry);
void GetFileItem(int row, MemberInfo &entry, SfxString &name);
void DeselectFileItem(int row);
void SelectAllFileItems();
void ShowFirstSelectedItem(HWND list);

#endif
