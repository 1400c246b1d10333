// SFXDialogRun.cpp -- the main dialog's run: the Unzip command, Close and cancel, and the automatic run's end.
#include "SFXDialogRun.h"

#include "SFXDefs.h"
#include "SFXDialogLayout.h"
#include "SFXFileList.h"
#include "SFXProcsExtract.h"
#include "SFXProcsFile.h"
#include "SFXProcsFolder.h"
#include "SFXProcsPath.h"
#include "SFXProcsRun.h"
#include "SFXPrompts.h"
#include "SFXStrings.h"
#include "SFXVars.h"
#include "SFXWide.h"

// During a run the progress bar takes the place of the folder row.
static void SwapFolderRow(HWND dialog, bool running) {
  ShowWindow(GetDlgItem(dialog, IdProgress), running ? SW_SHOW : SW_HIDE);
  static const int folderRow[] = {IdFolderLabel, IdEdit, IdBrowse};
  for (int id : folderRow) ShowWindow(GetDlgItem(dialog, id), running ? SW_HIDE : SW_SHOW);
}

static bool HasOption(unsigned option) { return (SfxSettings.Options & option) != 0; }

void UnzipCommand(HWND dialog) {
  CancelRequested = false;
  if (!HasOption(OptSelectFiles)) SelectAllFileItems();
  SfxSettings.TargetFolder = StripBackslashes(GetEditText(dialog));
  if (SfxSettings.TargetFolder.Empty()) {
    // Nothing to extract into (a folder that could not be resolved, or an empty
    // box): a person is offered the current directory and clicks again. A silent
    // run has nobody to agree, and wherever it was started (a scheduled task
    // starts in the system folder) is no place to unpack: it fails, writing nothing.
    if (Silent) FatalError(SfxString());
    SfxSettings.TargetFolder = GetCurrentFolder();
    SetDlgItemTextW(dialog, IdEdit, WideText(SfxSettings.TargetFolder));
    return;
  }

  EnableDialogControls(dialog, false);
  if (HasOption(OptAllowCancel)) EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
  SwapFolderRow(dialog, true);
  Extracting = true;
  bool complete = RunExtraction(dialog);
  Extracting = false;
  SwapFolderRow(dialog, false);
  EnableDialogControls(dialog, true);

  if (complete) {
    if (!HasOption(OptAutoUnzip) && !HasOption(OptNoDoneMessage))
      ShowMessageBox(dialog, STR_ALL_UNZIPPED, SfxSettings.Title.Text(), MB_OK);
    bool runUnticked = HasOption(OptRunCheckBox) && IsDlgButtonChecked(dialog, IdRunCheck) != BST_CHECKED;
    if (!runUnticked && !SfxSettings.RunCommand.Empty()) {
      // While the stub waits, the program has the screen: the dialog, whose
      // work is done, is out of sight and out of the user's reach.
      if (HasOption(OptWaitForRun)) ShowWindow(dialog, SW_HIDE);
      if (!RunAfterUnzip()) {
        ShowErrorBox(dialog, RunText(STR_CANNOT_RUN));
        // The work is not done: a script that started an automatic or silent
        // run, or waits for the program's exit code, must not read success.
        // Where a person clicked Unzip, the box told them.
        if (HasOption(OptAutoUnzip | OptWaitForRun)) RunOutcome = ExitRunFailed;
      }
    }
    EndDialog(dialog, IDOK);
  } else {
    // Members skipped now are asked about next time, when the user cannot see the policy.
    if (HasOption(OptHideOverwrite)) SfxSettings.OverwriteMode = ModeAsk;
    if (!CancelRequested && GetDlgItem(dialog, IdShowFiles)) SendMessageA(dialog, WM_COMMAND, IdShowFiles, 0);
  }
  // A script that started an automatic run learns from the exit code that it ended incomplete.
  if (HasOption(OptAutoUnzip)) {
    if (!complete) RunOutcome = ExitIncomplete;
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
}

void CloseCommand(HWND dialog, WPARAM wParam, LPARAM lParam) {
  if (Extracting) {
    if (!HasOption(OptAllowCancel)) return;
    if (ShowMessageBox(dialog, STR_CANCEL_UNZIP, SfxSettings.Title.Text(), MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
      return;
    CancelRequested = true;
    // Comes back as Close once the run lets a message through; with Extracting
    // cleared it then ends the dialog instead of asking again.
    PostMessageA(dialog, WM_CLOSE, wParam, lParam);
    Extracting = false;
    return;
  }
  SfxSettings.TargetFolder = GetEditText(dialog);
  if (FolderExists(SfxSettings.TargetFolder)) SetCurrentDirectoryW(WideText(SfxSettings.TargetFolder));
  EndDialog(dialog, IDCANCEL);
}
