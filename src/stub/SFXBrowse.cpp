// SFXBrowse.cpp -- the shell's folder browser, opened on the folder box's text.
#include "SFXBrowse.h"

#include <shlobj.h>

#include "SFXDefs.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// The record and the display-name buffer outlive the call: the callback writes
// into the same buffer while the browser runs.
static BROWSEINFOW BrowseInfo;              // filled anew at each call
static WCHAR DisplayName[SystemPathChars];  // pszDisplayName, reused by the callback
static LPITEMIDLIST ChosenItem;             // the browser's result until it is freed

// Preselects the folder lpData names, sets the caption and disables OK for items
// without a file-system path.
static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM lpData) {
  switch (message) {
    case BFFM_INITIALIZED:
      SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, lpData);
      SetWindowTextW(browser, WideText(STR_CHOOSE_FOLDER));
      break;
    case BFFM_SELCHANGED:
      // Items without a file-system path (printers, the network root) cannot be a target.
      if (!SHGetPathFromIDListW((LPCITEMIDLIST)lParam, DisplayName)) EnableWindow(GetDlgItem(browser, IDOK), FALSE);
      break;
  }
  return 0;
}

// The browser of the new style is a COM object: the thread must have entered an
// apartment first. Once is enough; the orderly end leaves it again.
void EnterComApartment() {
  if (!ComInitialized) ComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

bool BrowseForTargetFolder(HWND owner, SfxString &path) {
  WideText title(STR_CHOOSE_FOLDER), start(path);
  ZeroMemory(&BrowseInfo, sizeof BrowseInfo);
  BrowseInfo.hwndOwner = owner;
  BrowseInfo.pszDisplayName = DisplayName;
  BrowseInfo.lpszTitle = title;
  BrowseInfo.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  BrowseInfo.lpfn = BrowseCallback;
  BrowseInfo.lParam = (LPARAM)(const WCHAR *)start;

  EnterComApartment();
  ChosenItem = SHBrowseForFolderW(&BrowseInfo);
  if (!ChosenItem) return false;

  // A folder the shell cannot name within MAX_PATH leaves the box as it was.
  WideBuffer chosen(FullPathChars);
  if (SHGetPathFromIDListW(ChosenItem, chosen)) path = chosen.Text();

  IMalloc *allocator;
  if (FAILED(SHGetMalloc(&allocator))) return false;
  allocator->Free(ChosenItem);
  allocator->Release();
  ChosenItem = nullptr;
  SetCurrentDirectoryW(WideText(path));
  return true;
}
