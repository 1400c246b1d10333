// SFXProcsRun.cpp -- the program started after extraction, the wait for it, and the texts that name it.
#include "SFXProcsRun.h"

#include <shellapi.h>

#include "SFXProcsCleanup.h"
#include "SFXProcsExtract.h"
#include "SFXProcsFile.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

// While the stub waits for a job, it looks at it this often; without one, the
// program's end wakes it.
enum : DWORD { JobPollMs = 100 };

// The command splits at its first blank into program and parameters; further
// blanks belong to the parameters. A command that starts with a double quote
// names its program up to the closing quote instead, so a program path with
// blanks can be started; one blank after that quote separates the parameters.
SfxString RunCommandPart(int part) {
  const SfxString &command = SfxSettings.RunCommand;
  bool quoted = command.Length() && command[0] == '"';
  uint32_t programStart = quoted ? 1 : 0;
  int end = command.FindChar(quoted ? '"' : ' ', programStart);
  uint32_t programEnd = end < 0 ? command.Length() : (uint32_t)end;
  uint32_t parameterStart = programEnd + 1;
  if (quoted && parameterStart < command.Length() && command[parameterStart] == ' ') parameterStart++;
  if (part == 1) return command.Mid(programStart, programEnd - programStart);
  return command.Mid(parameterStart);
}

// Whether a process of the job besides the stub itself still runs. No job: none.
// The record is read as DWORDs: its 64-bit times, never looked at, would have
// the whole stack frame aligned for them.
static bool JobBusy(HANDLE job) {
  enum : size_t { Words = sizeof(JOBOBJECT_BASIC_ACCOUNTING_INFORMATION) / sizeof(DWORD) };
  DWORD accounting[Words];
  return job &&
         QueryInformationJobObject(job, JobObjectBasicAccountingInformation, accounting, sizeof accounting, nullptr) &&
         accounting[offsetof(JOBOBJECT_BASIC_ACCOUNTING_INFORMATION, ActiveProcesses) / sizeof(DWORD)] > 1;
}

// Waits for the program, and with a job for every process in it, letting the
// window's messages through as they come; its exit code becomes the stub's.
static void WaitForProgram(HANDLE process, HANDLE job) {
  while (MsgWaitForMultipleObjects(1, &process, FALSE, 0, 0) != WAIT_OBJECT_0 || JobBusy(job)) {
    MsgWaitForMultipleObjects(job ? 0 : 1, &process, FALSE, JobPollMs, QS_ALLINPUT);
    PumpMessages();
  }
  DWORD code = ExitDone;
  GetExitCodeProcess(process, &code);
  RunOutcome = (ExitCode)code;
}

// To wait for the whole tree (OptWaitForAll) the stub joins a job object before
// it starts the program: every process started from then on, the program and
// whatever that starts in turn, belongs to the job from its first instruction,
// whatever kind of file the shell opens and however quickly the program hands
// over and ends. A stub that cannot join (it already runs in a job, on a system
// that does not nest them) counts no process of the job, and waits for the
// program alone. A process that asks to leave the job (CREATE_BREAKAWAY_FROM_JOB)
// may: refused, it would not start at all.
bool RunAfterUnzip() {
  bool wait = (SfxSettings.Options & OptWaitForRun) != 0;
  HANDLE job = nullptr;
  if (wait && (SfxSettings.Options & OptWaitForAll) && (job = CreateJobObjectW(nullptr, nullptr)) != nullptr) {
    // Written as DWORDs for the reason JobBusy gives.
    DWORD limits[sizeof(JOBOBJECT_BASIC_LIMIT_INFORMATION) / sizeof(DWORD)] = {};
    limits[offsetof(JOBOBJECT_BASIC_LIMIT_INFORMATION, LimitFlags) / sizeof(DWORD)] = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectBasicLimitInformation, limits, sizeof limits);
    AssignProcessToJobObject(job, (HANDLE)-1);  // the current process
  }

  // The passed arguments start with the blank that separates them.
  WideText program(RunCommandPart(1)), parameters(RunCommandPart(2) + FromWide(PassedArguments)),
      folder(SfxSettings.TargetFolder);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = program;
  info.lpParameters = parameters;
  info.lpDirectory = folder;
  info.nShow = SW_SHOW;
  // The program inherits the error mode in force when it starts: it gets the
  // system's default, not the one the stub set for itself.
  UINT errorMode = SetErrorMode(0);
  bool started = ShellExecuteExW(&info) != FALSE;
  SetErrorMode(errorMode);
  // No process handle: the shell handed the file to a program already running,
  // and there is nothing of ours to wait for. That program may not even have
  // opened the file yet: nothing is removed, and a clean-up that was due says
  // so in the exit code.
  if (started && info.hProcess) {
    if (wait) WaitForProgram(info.hProcess, job);
    CloseHandle(info.hProcess);
  } else if (started) {
    if (CleanUpApplies()) RunOutcome = ExitLeftBehind;
    CreatedPaths.Release();
  }
  return started;  // a job stays open: the stub is in it until it ends
}

SfxString RunText(const SfxString &templateText) {
  return SubstituteTwo(templateText, ExtractName(RunCommandPart(1)), ExtractName(RunCommandPart(2)));
}
