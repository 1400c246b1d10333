// SFXDialogs.cpp -- the main dialog: layout by option bits, Unzip, Close and the run's states.
#include "SFXDialogs.h"

#include <commctrl.h>

#include "SFXBrowse.h"
#include "SFXDefs.h"
#include "SFXDialogLayout.h"
#include "SFXDialogRun.h"
#include "SFXFileList.h"
#include "SFXProcsArchive.h"
#include "SFXProcsFile.h"
#include "SFXProcsRun.h"
#include "SFXPrompts.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// Controls under the removable bands, moved up when bands are left out at start.
static const int BelowBandsIds[] = {IdShowFiles, IdRunCheck, IdHelp, IDOK, IDCANCEL, IdSeparatorButtons};
// The overwrite band, destroyed in this order when OptHideOverwrite is set.
static const int OverwriteBandIds[] = {IdSeparatorTop, IdOverwrite, IdDontOverwrite, IdAsk, IdOverwriteGroup};
// Heights of the removable bands in dialog units (the template is laid out to match).
enum { OverwriteBandUnits = 18, RunBandUnits = 10, RunBandUnitsAfterOverwrite = 15 };

static void CheckButton(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_SETCHECK, BST_CHECKED, 0); }

// Leaves out the overwrite and Run bands the options do without, then closes the gap.
static void RemoveBands(HWND dialog) {
  unsigned options = SfxSettings.Options;
  int shrink = 0;
  if (options & OptHideOverwrite) {
    shrink = OverwriteBandUnits;
    for (int id : OverwriteBandIds) DestroyWindow(GetDlgItem(dialog, id));
  }
  // The Run band goes by the option bit alone: a check box destroyed for an
  // empty run command leaves its band in place.
  if (!(options & OptRunCheckBox)) shrink += shrink ? RunBandUnitsAfterOverwrite : RunBandUnits;
  if (!shrink) return;
  MoveVertically(dialog, false, -shrink);
  for (int id : BelowBandsIds) MoveVertically(GetDlgItem(dialog, id), true, -shrink);
}

static void InitMainDialog(HWND dialog) {
  MainWindow = dialog;
  Extracting = false;
  CancelRequested = false;
  SendMessageW(dialog, WM_SETICON, ICON_BIG, (LPARAM)LoadIconW(GetModuleHandleW(nullptr), L"UNZIP"));
  SetUpFileList(dialog);

  if (SfxSettings.RunLength && (SfxSettings.Options & OptRunCheckBox)) {
    SetDlgItemTextW(dialog, IdRunCheck, WideText(RunText(STR_RUN_CHECKBOX)));
    CheckButton(dialog, IdRunCheck);
  } else {
    DestroyWindow(GetDlgItem(dialog, IdRunCheck));
  }

  SetDlgItemTextW(dialog, IdEdit, WideText(SfxSettings.TargetFolder));
  SendDlgItemMessageW(dialog, IdEdit, EM_SETSEL, 0, 0x7FFF);
  CheckButton(dialog, IdOverwrite + SfxSettings.OverwriteMode);

  RemoveBands(dialog);
  SetWindowTextW(dialog, WideText(STR_DIALOG_CAPTION));
  HoldFileList(true);
  ReadArchiveDirectory();
  HoldFileList(false);

  if (!(SfxSettings.Options & OptHideFileList)) SendMessageA(dialog, WM_COMMAND, IdShowFiles, 0);
  else if (SfxSettings.Options & OptNoShowFiles) DestroyWindow(GetDlgItem(dialog, IdShowFiles));

  if (SfxSettings.Options & OptAutoUnzip) SetTimer(dialog, 0, 20, nullptr);
}

static void MainDialogCommand(HWND dialog, WPARAM wParam, LPARAM lParam) {
  int id = LOWORD(wParam);
  switch (id) {
    case IDOK: UnzipCommand(dialog); break;
    case IDCANCEL: CloseCommand(dialog, wParam, lParam); break;
    case IdHelp: ShowMessageBox(dialog, STR_HELP_TEXT, STR_HELP_CAPTION, MB_ICONINFORMATION); break;
    case IdBrowse:
      SfxSettings.TargetFolder = GetEditText(dialog);
      if (BrowseForTargetFolder(dialog, SfxSettings.TargetFolder))
        SetDlgItemTextW(dialog, IdEdit, WideText(SfxSettings.TargetFolder));
      break;
    case IdShowFiles: ShowFilesCommand(dialog); break;
    case IdFilesLabel: SetFocus(GetDlgItem(dialog, IdFileList)); break;
    case IdOverwrite:
    case IdDontOverwrite:
    case IdAsk: SfxSettings.OverwriteMode = (uint8_t)(id - IdOverwrite); break;
  }
}

// With OptSelectFiles the user's selection is what gets extracted: Unzip makes
// sense only while some row is selected. A run's own deselecting is ignored.
static void ListChanged(HWND dialog, const NMHDR *header) {
  if (header->code != LVN_ITEMCHANGED || !(SfxSettings.Options & OptSelectFiles) || Extracting) return;
  LRESULT selected = SendDlgItemMessageA(dialog, IdFileList, LVM_GETSELECTEDCOUNT, 0, 0);
  EnableWindow(GetDlgItem(dialog, IDOK), selected > 0);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(dialog);
      return FALSE;  // no default focus wanted
    case WM_COMMAND:
      MainDialogCommand(dialog, wParam, lParam);
      return TRUE;
    case WM_NOTIFY:
      if (wParam == IdFileList) ListChanged(dialog, (const NMHDR *)lParam);
      return TRUE;
    case WM_TIMER:  // the automatic start of OptAutoUnzip
      KillTimer(dialog, 0);
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      return TRUE;
    case WM_WINDOWPOSCHANGING:
      // A silent run keeps its dialog, which holds the list the run works on, out of sight.
      if (Silent) ((WINDOWPOS *)lParam)->flags &= ~SWP_SHOWWINDOW;
      return FALSE;
  }
  return FALSE;
}
