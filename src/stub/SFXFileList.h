// SFXFileList.h -- the file list (control 401 of the main dialog): rows, selection, EntryList.
// A row's item data is its member's index in EntryList.
#ifndef SFXKIT_STUB_SFXFILELIST_H
#define SFXKIT_STUB_SFXFILELIST_H

#include <windows.h>

#include "SFXStructs.h"

void AddListColumn(HWND dialog, int index, const char *header, int format, int width);
// Columns, full-row selection and the shared system image list.
void SetUpFileList(HWND dialog);
void AddFileItem(HWND dialog, const SfxString &name, const MemberInfo &entry);
void GetFileItem(HWND dialog, int row, MemberInfo &entry, SfxString &name);
void DeselectFileItem(HWND dialog, int row);
void SelectAllFileItems(HWND dialog);
void ShowFirstSelectedItem(HWND list);

#endif
