// SFXDialogLayout.cpp -- moving and enabling the main dialog's controls, and the Show files command.
#include "SFXDialogLayout.h"

#include "SFXDefs.h"

// The callback of EnableDialogControls: lParam carries the requested state.
static BOOL CALLBACK EnableControl(HWND window, LPARAM lParam) {
  char className[64];
  GetClassNameA(window, className, sizeof className);
  // The progress bar keeps moving while everything else is disabled.
  if (IsWindowVisible(window) && lstrcmpA(className, "msctls_progress32") != 0) EnableWindow(window, (BOOL)lParam);
  return TRUE;
}

void EnableDialogControls(HWND dialog, bool enable) { EnumChildWindows(dialog, EnableControl, enable); }

void MoveVertically(HWND window, bool moveTop, int units) {
  if (!window) return;
  // The template's units are those of the dialog's own font. The system's dialog base
  // units (the system font) are larger, so a control moved with them would land off
  // its band; converting through the dialog keeps moves and template in step.
  HWND dialog = (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) ? GetParent(window) : window;
  RECT pixels = {0, 0, 0, units};
  MapDialogRect(dialog, &pixels);
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  if (moveTop) placement.rcNormalPosition.top += pixels.bottom;
  placement.rcNormalPosition.bottom += pixels.bottom;
  SetWindowPlacement(window, &placement);
}

static const int ListBandIds[] = {IdFilesLabel, IdFileList};
static const int BelowListIds[] = {IdOverwriteGroup, IdOverwrite, IdDontOverwrite, IdAsk, IdShowFiles,
                                   IdRunCheck, IdHelp, IDOK, IDCANCEL, IdSeparatorButtons};
enum { ListBandUnits = 66 };

void ShowFilesCommand(HWND dialog) {
  for (int id : ListBandIds) ShowWindow(GetDlgItem(dialog, id), SW_SHOW);
  MoveVertically(dialog, false, ListBandUnits);
  for (int id : BelowListIds) MoveVertically(GetDlgItem(dialog, id), true, ListBandUnits);
  // Moved while the dialog grew, the band below the list is not always painted
  // anew where it lands (wine leaves it blank): the whole dialog is, at once.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SetFocus(GetDlgItem(dialog, IdFileList));
  // Showing cannot be undone; without its button the command cannot come twice.
  DestroyWindow(GetDlgItem(dialog, IdShowFiles));
}
