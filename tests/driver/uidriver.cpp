// uidriver.cpp -- the UI driver: starts a Windows program and drives its windows from a script.
//
//   uidriver.exe SCRIPT      (or "-" / no argument: the script comes from stdin)
//
// The end-to-end tests run it under wine next to the real stub. It starts one
// program, waits for its windows, reads what they show, presses, types and
// selects like a user would, and reports everything as one JSON object per
// line on stdout (UTF-8). Assertions are the caller's business: the driver
// only fails when something it was told to wait for or act on is not there.
//
// Script syntax
//   One command per line; blank lines and lines starting with '#' are skipped.
//   Arguments are separated by blanks. "Quoted" arguments may hold blanks; a
//   quote inside is written "" . There are no backslash escapes, so Windows
//   paths are written as they are. An unquoted argument NAME=VALUE is an option
//   (VALUE may be quoted: cwd="C:\my dir"). IDs are decimal or 0x hex.
//   TIMEOUT options are milliseconds; the default is set by `timeout`.
//
// Process
//   start EXE [args=TEXT] [cwd=DIR] [suspended=1]
//                          start EXE (command line: "EXE" TEXT).       -> pid
//   resume                 let a suspended process run.
//   wait-exit [timeout=MS] wait for the process to end.                -> exit_code
//   kill                   end the process (exit code 9).
//   alive                  whether it still runs.                     -> alive
//   clock                  milliseconds since `start` created the process. -> ms
//   memory                 the process's working set now and at its peak, in
//                          bytes, while it runs.    -> working_set, peak_working_set
//
// Files (Windows paths)
//   rename FROM TO         MoveFileEx, replacing TO.
//   delete PATH
//   sleep MS
//   timeout MS             default wait for every later command (start: 20000).
//   echo TEXT              prints TEXT back (marks a place in the output).
//   on-error stop|continue after a failed command, end (the default) or go on
//                          with the next one; the exit code is 3 either way.
//
// Windows of the started process. A wait sets the "current window" that the
// control commands below work on.
//   wait-window CAPTION [class=NAME] [timeout=MS]
//                          a visible top-level window with exactly this caption
//                          ("*": any caption). Enabled windows win over disabled
//                          ones, so the topmost modal window of several is taken.
//                          -> hwnd, caption, class, rect
//   wait-msgbox [CAPTION] [timeout=MS]
//                          a message box: a dialog with a static control 0xFFFF.
//                          -> caption, text, icon (hand|question|exclamation|
//                             asterisk|none|other), buttons [{id,text}]
//   wait-gone [timeout=MS] wait until the current window is destroyed.
//   windows                every top-level window of the process.     -> windows
//
// Acting on the current window (ID 0 means the window itself)
//   press WHAT             a button by caption ("&" may be left out) or by
//                          id=N: the click reaches the dialog as WM_COMMAND
//                          BN_CLICKED, posted, so a modal box the click opens
//                          does not block the driver. Pressing a button of a
//                          message box waits until the box is gone.
//   click ID               BM_CLICK sent to a button (radio buttons, check boxes).
//   check ID on|off        bring a check box or radio button to that state the
//                          way a click does (nothing happens when it already is).
//   type ID TEXT           replace the text of a control (WM_SETTEXT; an edit
//                          control notifies its dialog with EN_CHANGE).
//   select ID ROWS         list view selection: row indexes (0-based, separated
//                          by blanks), "all" or "none"; other rows are deselected.
//   close                  the window's close box (WM_SYSCOMMAND SC_CLOSE).
//
// Reading the current window
//   text ID                                                              -> text
//   state ID               exists, class, text, visible, enabled, checked
//                          (0/1/2, buttons), pos/min/max (progress bars),
//                          count (list views: rows),
//                          rect (screen, GetWindowRect), client (the rect in the
//                          window's client coordinates)
//   rect ID                                                  -> rect, client
//   controls               state of every child control, in Z order.
//   rows ID                list view: columns [header texts], rows
//                          [{cells [all columns], selected, param}]
//   wait-state ID PROP VALUE [timeout=MS]
//                          poll until PROP (text|visible|enabled|checked|exists|count)
//                          has VALUE (1/0 for the flags).
//   screenshot FILE [as-is=1]
//                          the window as a 32-bit BMP, after it repainted
//                          everything; as-is=1: as it has painted itself.
//
// Output: every command prints {"cmd": NAME, ...results}. A failed command
// prints {"cmd": NAME, "error": MESSAGE, "windows": [...]} (what the process
// showed at that moment), the same message on stderr, ends the process and
// exits with 3 (after `on-error continue`: goes on, and exits with 3 at the
// end). A script error (unknown command, open quote) exits with 2 before
// anything runs. At the end of the script a
// process that still runs is ended and reported as {"cmd":"end","killed":true}.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- text and JSON

std::wstring Widen(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring result(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &result[0], n);
  return result;
}

std::string Narrow(const std::wstring &text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string result(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &result[0], n, nullptr, nullptr);
  return result;
}

std::string Quote(const std::wstring &text) {
  std::string out = "\"";
  for (unsigned char c : Narrow(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += (char)c;
        }
    }
  }
  return out + "\"";
}

// One JSON object, built field by field.
class Json {
 public:
  Json &Str(const char *key, const std::wstring &value) { return Raw(key, Quote(value)); }
  Json &Num(const char *key, long long value) { return Raw(key, std::to_string(value)); }
  Json &Bool(const char *key, bool value) { return Raw(key, value ? "true" : "false"); }
  Json &Raw(const char *key, const std::string &json) {
    body_ += body_.empty() ? "{" : ", ";
    body_ += "\"" + std::string(key) + "\": " + json;
    return *this;
  }
  std::string Text() const { return body_.empty() ? "{}" : body_ + "}"; }

 private:
  std::string body_;
};

std::string Array(const std::vector<std::string> &items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out + "]";
}

void Emit(const Json &json) {
  fputs(json.Text().c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

// ---------------------------------------------------------------- script lines

struct Command {
  int line = 0;                   // line number in the script, for messages
  std::wstring name;              // first word
  std::vector<std::wstring> args; // positional arguments
  std::vector<std::pair<std::wstring, std::wstring>> options;  // NAME=VALUE arguments

  const std::wstring *Option(const wchar_t *key) const {
    for (auto &o : options)
      if (o.first == key) return &o.second;
    return nullptr;
  }
};

// Splits one line into words: blanks separate, "..." groups ("" is a quote).
// Returns false on an unterminated quote.
bool SplitLine(const std::wstring &line, Command &command) {
  size_t i = 0, n = line.size();
  bool first = true;
  while (true) {
    while (i < n && iswspace(line[i])) ++i;
    if (i >= n) break;
    std::wstring word;
    bool quoted = false;
    size_t equals = std::wstring::npos;
    while (i < n && !iswspace(line[i])) {
      if (line[i] == L'"') {
        quoted = true;
        ++i;
        while (true) {
          if (i >= n) return false;
          if (line[i] == L'"') {
            if (i + 1 < n && line[i + 1] == L'"') { word += L'"'; i += 2; continue; }
            ++i;
            break;
          }
          word += line[i++];
        }
      } else {
        if (line[i] == L'=' && !quoted && equals == std::wstring::npos) equals = word.size();
        word += line[i++];
      }
    }
    bool optionForm = !first && equals != std::wstring::npos && equals > 0 &&
                      std::all_of(word.begin(), word.begin() + equals, [](wchar_t ch) { return iswalpha(ch) || ch == L'-'; });
    if (first) command.name = word;
    else if (optionForm) command.options.emplace_back(word.substr(0, equals), word.substr(equals + 1));
    else command.args.push_back(word);
    first = false;
  }
  return true;
}

// ---------------------------------------------------------------- driver state

struct Failure {
  std::wstring message;
};

PROCESS_INFORMATION Process = {};   // the started program; hProcess null until `start`
LARGE_INTEGER Started = {};         // performance counter just before `start` created it
HWND Current = nullptr;             // window chosen by the last wait
DWORD DefaultTimeout = 20000;       // milliseconds for every wait without timeout=
bool ContinueOnError = false;       // `on-error continue`: a failed command does not end the script

[[noreturn]] void Fail(const std::wstring &message) { throw Failure{message}; }

bool ParseNumber(const std::wstring &text, long long &value) {
  if (text.empty()) return false;
  wchar_t *end = nullptr;
  value = wcstoll(text.c_str(), &end, 0);
  return end && *end == 0;
}

long long Number(const std::wstring &text, const wchar_t *what) {
  long long value;
  if (!ParseNumber(text, value)) Fail(std::wstring(L"not a number for ") + what + L": " + text);
  return value;
}

DWORD TimeoutOf(const Command &c) {
  const std::wstring *t = c.Option(L"timeout");
  return t ? (DWORD)Number(*t, L"timeout") : DefaultTimeout;
}

const std::wstring &Arg(const Command &c, size_t index, const wchar_t *what) {
  if (index >= c.args.size()) Fail(std::wstring(L"missing argument: ") + what);
  return c.args[index];
}

bool ProcessAlive() {
  return Process.hProcess && WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT;
}

void NeedProcess() {
  if (!Process.hProcess) Fail(L"no process started");
}

// A wait for a window of a process that has ended can only time out: say so at once.
void FailIfEnded(const std::wstring &waitingFor) {
  DWORD code = 0;
  if (!ProcessAlive() && GetExitCodeProcess(Process.hProcess, &code))
    Fail(L"the process ended with exit code " + std::to_wstring(code) + L" while waiting for " + waitingFor);
}

// Polls until ready() holds or the time is up. ready() is tried once more at the end.
template <class Ready>
bool Poll(DWORD timeout, Ready ready) {
  DWORD start = GetTickCount();
  while (true) {
    if (ready()) return true;
    if (GetTickCount() - start >= timeout) return ready();
    Sleep(25);
  }
}

// ---------------------------------------------------------------- window reading

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return name;
}

// A message that reads something from a window: 0 when it does not answer within 5 seconds.
DWORD_PTR Ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result);
  return result;
}

// WM_GETTEXT is marshalled across processes, GetWindowText of a control of
// another process is not: it would only return the caption stored at creation.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = Ask(window, WM_GETTEXTLENGTH);
  if (!length) return L"";
  std::vector<wchar_t> buffer(length + 2, 0);
  return std::wstring(buffer.data(), Ask(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data()));
}

DWORD OwnerProcess(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// Named callbacks rather than lambdas: the 32-bit build needs them stdcall.
BOOL CALLBACK CollectOwnWindow(HWND w, LPARAM data) {
  if (OwnerProcess(w) == Process.dwProcessId) ((std::vector<HWND> *)data)->push_back(w);
  return TRUE;
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM data) {
  ((std::vector<HWND> *)data)->push_back(w);
  return TRUE;
}

std::vector<HWND> TopWindows() {
  std::vector<HWND> found;
  if (!Process.hProcess) return found;
  EnumWindows(CollectOwnWindow, (LPARAM)&found);
  return found;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, CollectWindow, (LPARAM)&found);
  return found;
}

std::string RectJson(const RECT &r) {
  return Json().Num("left", r.left).Num("top", r.top).Num("right", r.right).Num("bottom", r.bottom).Text();
}

std::string Hex(HWND window) {
  char buf[32];
  snprintf(buf, sizeof buf, "\"0x%llx\"", (unsigned long long)(ULONG_PTR)window);
  return buf;
}

bool IsMessageBox(HWND window) {
  HWND text = GetDlgItem(window, 0xFFFF);
  return ClassOf(window) == L"#32770" && text && _wcsicmp(ClassOf(text).c_str(), L"Static") == 0;
}

Json WindowJson(HWND w) {
  RECT r = {};
  GetWindowRect(w, &r);
  return Json()
      .Raw("hwnd", Hex(w))
      .Str("caption", TextOf(w))
      .Str("class", ClassOf(w))
      .Bool("visible", IsWindowVisible(w))
      .Bool("enabled", IsWindowEnabled(w))
      .Raw("rect", RectJson(r));
}

std::string WindowsJson() {
  std::vector<std::string> items;
  for (HWND w : TopWindows()) items.push_back(WindowJson(w).Text());
  return Array(items);
}

// The control with this ID anywhere below the current window; 0 is the window itself.
HWND FindControl(long long id, bool mustExist = true) {
  if (!Current || !IsWindow(Current)) Fail(L"no current window (wait for one first)");
  if (id == 0) return Current;
  HWND control = GetDlgItem(Current, (int)id);
  if (!control) {
    for (HWND child : Children(Current))
      if (GetDlgCtrlID(child) == (int)id) { control = child; break; }
  }
  if (!control && mustExist) Fail(L"no control with ID " + std::to_wstring(id));
  return control;
}

HWND ControlArg(const Command &c, size_t index = 0) { return FindControl(Number(Arg(c, index, L"ID"), L"ID")); }

bool IsButtonClass(HWND w) { return _wcsicmp(ClassOf(w).c_str(), L"Button") == 0; }

LRESULT Send(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(w, message, wparam, lparam, SMTO_ABORTIFHUNG, 10000, &result))
    Fail(L"the window did not answer message " + std::to_wstring(message));
  return (LRESULT)result;
}

int CheckState(HWND w) { return (int)Ask(w, BM_GETCHECK); }

// The state of control w (ID id), added to json.
Json StateJson(HWND w, long long id, Json json = Json()) {
  json.Num("id", id);
  if (!w) return json.Bool("exists", false);
  RECT r = {};
  GetWindowRect(w, &r);
  RECT client = r;
  if (w != Current) MapWindowPoints(HWND_DESKTOP, Current, (POINT *)&client, 2);
  std::wstring cls = ClassOf(w);
  json.Bool("exists", true)
      .Str("class", cls)
      .Str("text", TextOf(w))
      .Bool("visible", IsWindowVisible(w))
      .Bool("enabled", IsWindowEnabled(w))
      .Raw("rect", RectJson(r))
      .Raw("client", RectJson(client));
  if (IsButtonClass(w)) {
    LONG style = GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK;
    json.Num("checked", CheckState(w)).Num("button_style", style);
  } else if (_wcsicmp(cls.c_str(), WC_LISTVIEWW) == 0) {
    json.Num("count", (long long)Send(w, LVM_GETITEMCOUNT, 0, 0));
  } else if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
    json.Num("pos", (long long)Ask(w, PBM_GETPOS))
        .Num("min", (long long)Ask(w, PBM_GETRANGE, TRUE))
        .Num("max", (long long)Ask(w, PBM_GETRANGE, FALSE));
  }
  return json;
}

// 32 bits a pixel, the top row first: how the driver reads pixels and writes screenshots.
BITMAPINFOHEADER PixelFormat(int width, int height) {
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = -height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  return info;
}

// The pixels of a bitmap compatible with `like` once draw(dc) has drawn into it.
template <class Draw>
std::vector<DWORD> DrawnPixels(HDC like, int width, int height, Draw draw) {
  HDC memory = CreateCompatibleDC(like);
  HBITMAP bitmap = CreateCompatibleBitmap(like, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  draw(memory);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = PixelFormat(width, height);
  std::vector<DWORD> pixels((size_t)width * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), (BITMAPINFO *)&info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return pixels;
}

// The pixels of an area of the screen.
std::vector<DWORD> CapturePixels(HDC screen, int x, int y, int width, int height) {
  return DrawnPixels(screen, width, height, [&](HDC memory) {
    BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
  });
}

// Which of the system's standard icons a message box shows. Icon handles of
// another process cannot be compared or inspected, so the icon is recognised
// by its pixels: each standard icon is drawn over the box's background colour
// and compared with what the screen shows in the icon control.
std::wstring IconName(HWND box) {
  HWND iconControl = nullptr;
  for (HWND child : Children(box))
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 &&
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
      iconControl = child;
      break;
    }
  if (!iconControl) return L"none";
  RECT r = {};
  GetWindowRect(iconControl, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return L"none";
  HDC screen = GetDC(nullptr);
  std::vector<DWORD> shown = CapturePixels(screen, r.left, r.top, width, height);
  // IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK in their wide form.
  struct { int id; const wchar_t *name; } const known[] = {
      {32513, L"hand"}, {32514, L"question"}, {32515, L"exclamation"}, {32516, L"asterisk"}};
  std::wstring best = L"other";
  size_t bestDiff = shown.size() / 20 + 1;  // at most 5 % of the pixels may differ
  DWORD background = shown[0] & 0xFFFFFF;
  for (auto &k : known) {
    std::vector<DWORD> drawn = DrawnPixels(screen, width, height, [&](HDC memory) {
      HBRUSH brush = CreateSolidBrush(RGB(GetBValue(background), GetGValue(background), GetRValue(background)));
      RECT all = {0, 0, width, height};
      FillRect(memory, &all, brush);
      DeleteObject(brush);
      DrawIconEx(memory, 0, 0, LoadIconW(nullptr, MAKEINTRESOURCEW(k.id)), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    });
    size_t diff = 0;
    for (size_t i = 0; i < shown.size(); ++i) diff += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
    if (diff < bestDiff) {
      bestDiff = diff;
      best = k.name;
    }
  }
  ReleaseDC(nullptr, screen);
  return best;
}

// ---------------------------------------------------------------- another process's memory

// A block in the started process, for messages whose parameters are pointers
// (list view and header items): the control dereferences them in its own
// address space. Both sides are 64-bit, so the structures match.
class RemoteBlock {
 public:
  explicit RemoteBlock(SIZE_T size) : size_(size) {
    address_ = VirtualAllocEx(Process.hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!address_) Fail(L"VirtualAllocEx failed");
  }
  ~RemoteBlock() { VirtualFreeEx(Process.hProcess, address_, 0, MEM_RELEASE); }
  RemoteBlock(const RemoteBlock &) = delete;
  RemoteBlock &operator=(const RemoteBlock &) = delete;

  char *At(SIZE_T offset) const { return (char *)address_ + offset; }
  void Write(SIZE_T offset, const void *data, SIZE_T count) {
    SIZE_T done = 0;
    if (offset + count > size_ || !WriteProcessMemory(Process.hProcess, At(offset), data, count, &done) || done != count)
      Fail(L"WriteProcessMemory failed");
  }
  void Read(SIZE_T offset, void *data, SIZE_T count) const {
    SIZE_T done = 0;
    if (offset + count > size_ || !ReadProcessMemory(Process.hProcess, At(offset), data, count, &done) || done != count)
      Fail(L"ReadProcessMemory failed");
  }

 private:
  void *address_;
  SIZE_T size_;
};

const int RemoteTextChars = 1024;

std::wstring ListCellText(HWND list, RemoteBlock &block, int row, int column) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = (LPWSTR)block.At(sizeof(LVITEMW));
  item.cchTextMax = RemoteTextChars;
  block.Write(0, &item, sizeof item);
  LRESULT length = Send(list, LVM_GETITEMTEXTW, row, (LPARAM)block.At(0));
  std::vector<wchar_t> text(RemoteTextChars + 1, 0);
  block.Read(sizeof(LVITEMW), text.data(), RemoteTextChars * sizeof(wchar_t));
  if (length < 0) length = 0;
  if (length > RemoteTextChars) length = RemoteTextChars;
  return std::wstring(text.data(), (size_t)length);
}

LPARAM ListRowParam(HWND list, RemoteBlock &block, int row) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  block.Write(0, &item, sizeof item);
  Send(list, LVM_GETITEMW, 0, (LPARAM)block.At(0));
  block.Read(0, &item, sizeof item);
  return item.lParam;
}

std::vector<std::wstring> ListColumns(HWND list, RemoteBlock &block) {
  std::vector<std::wstring> columns;
  HWND header = (HWND)Send(list, LVM_GETHEADER, 0, 0);
  if (!header) return columns;
  int count = (int)Send(header, HDM_GETITEMCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) {
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = (LPWSTR)block.At(sizeof(HDITEMW));
    item.cchTextMax = RemoteTextChars;
    block.Write(0, &item, sizeof item);
    std::vector<wchar_t> text(RemoteTextChars + 1, 0);
    block.Write(sizeof(HDITEMW), text.data(), sizeof(wchar_t));
    Send(header, HDM_GETITEMW, i, (LPARAM)block.At(0));
    block.Read(sizeof(HDITEMW), text.data(), RemoteTextChars * sizeof(wchar_t));
    columns.push_back(text.data());
  }
  return columns;
}

void SetListSelection(HWND list, int row, bool selected) {
  RemoteBlock block(sizeof(LVITEMW));
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = selected ? LVIS_SELECTED : 0;
  block.Write(0, &item, sizeof item);
  Send(list, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)block.At(0));
}

// ---------------------------------------------------------------- screenshots

// A window found the moment it became visible may not have painted yet: have
// it repaint everything (unless the picture is to show what it painted of its
// own accord) and wait until its thread has got through that.
void SettlePainting(HWND window, bool repaint) {
  WaitForInputIdle(Process.hProcess, 2000);
  if (repaint)
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  Sleep(100);
}

void SaveBitmap(HWND window, const std::wstring &path, bool repaint) {
  if (Process.hProcess) SettlePainting(window, repaint);
  RECT r = {};
  GetWindowRect(window, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) Fail(L"the window has no area");
  HDC screen = GetDC(nullptr);
  std::vector<DWORD> pixels = CapturePixels(screen, r.left, r.top, width, height);
  ReleaseDC(nullptr, screen);

  BITMAPINFOHEADER info = PixelFormat(width, height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + (DWORD)(pixels.size() * sizeof(DWORD));
  FILE *out = _wfopen(path.c_str(), L"wb");
  if (!out) Fail(L"cannot create " + path);
  fwrite(&file, sizeof file, 1, out);
  fwrite(&info, sizeof info, 1, out);
  fwrite(pixels.data(), sizeof(DWORD), pixels.size(), out);
  fclose(out);
}

// ---------------------------------------------------------------- commands

bool SameCaption(const std::wstring &caption, const std::wstring &wanted) {
  if (caption == wanted) return true;
  std::wstring plain;  // "&Yes" matches "Yes"
  for (wchar_t ch : caption)
    if (ch != L'&') plain += ch;
  return plain == wanted;
}

void RunStart(const Command &c, Json &out) {
  const std::wstring &exe = Arg(c, 0, L"EXE");
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (const std::wstring *args = c.Option(L"args")) commandLine += L" " + *args;
  const std::wstring *cwd = c.Option(L"cwd");
  const std::wstring *suspended = c.Option(L"suspended");
  bool suspend = suspended && *suspended != L"0";
  if (Process.hProcess) {
    CloseHandle(Process.hProcess);
    CloseHandle(Process.hThread);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  Process = PROCESS_INFORMATION();
  Current = nullptr;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  QueryPerformanceCounter(&Started);
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, suspend ? CREATE_SUSPENDED : 0, nullptr,
                      cwd ? cwd->c_str() : nullptr, &startup, &Process)) {
    Process = PROCESS_INFORMATION();
    Fail(L"cannot start " + exe + L" (error " + std::to_wstring(GetLastError()) + L")");
  }
  out.Num("pid", Process.dwProcessId);
}

// Waits for a visible top-level window of the process that accept() likes,
// enabled ones first, and makes it the current one; `what` names it in the failure.
template <class Accept>
HWND WaitTopWindow(const Command &c, const std::wstring &what, Accept accept) {
  NeedProcess();
  HWND found = nullptr;
  Poll(TimeoutOf(c), [&] {
    bool ended = !ProcessAlive();
    found = nullptr;
    for (HWND w : TopWindows()) {
      if (!IsWindowVisible(w) || !accept(w)) continue;
      if (IsWindowEnabled(w)) {
        found = w;
        break;
      }
      if (!found) found = w;
    }
    return found != nullptr || ended;
  });
  if (!found) FailIfEnded(what);
  if (!found) Fail(L"timeout waiting for " + what);
  return Current = found;
}

void RunWaitWindow(const Command &c, Json &out) {
  std::wstring caption = Arg(c, 0, L"CAPTION");
  const std::wstring *cls = c.Option(L"class");
  HWND found = WaitTopWindow(c, L"a window captioned \"" + caption + L"\"", [&](HWND w) {
    return (caption == L"*" || TextOf(w) == caption) && (!cls || ClassOf(w) == *cls);
  });
  RECT r = {};
  GetWindowRect(found, &r);
  out.Raw("hwnd", Hex(found)).Str("caption", TextOf(found)).Str("class", ClassOf(found)).Raw("rect", RectJson(r));
}

void RunWaitMsgBox(const Command &c, Json &out) {
  const std::wstring *caption = c.args.empty() ? nullptr : &c.args[0];
  std::wstring what = caption ? L"a message box captioned \"" + *caption + L"\"" : std::wstring(L"a message box");
  HWND found = WaitTopWindow(c, what, [&](HWND w) { return IsMessageBox(w) && (!caption || TextOf(w) == *caption); });
  // A box found the moment it is shown may not be painted yet.
  std::wstring icon;
  Poll(10000, [&] { return (icon = IconName(found)) != L"other"; });
  std::vector<std::string> buttons;
  for (HWND child : Children(found))
    if (IsButtonClass(child) && IsWindowVisible(child))
      buttons.push_back(Json().Num("id", GetDlgCtrlID(child)).Str("text", TextOf(child)).Text());
  out.Raw("hwnd", Hex(found))
      .Str("caption", TextOf(found))
      .Str("text", TextOf(GetDlgItem(found, 0xFFFF)))
      .Str("icon", icon)
      .Raw("buttons", Array(buttons));
}

void WaitGone(HWND window, DWORD timeout) {
  if (!Poll(timeout, [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
    Fail(L"timeout waiting for the window to go");
}

void RunPress(const Command &c, Json &out) {
  if (!Current || !IsWindow(Current)) Fail(L"no current window (wait for one first)");
  HWND button = nullptr;
  int id = 0;
  if (const std::wstring *idText = c.Option(L"id")) {
    id = (int)Number(*idText, L"id");
    button = FindControl(id, false);
  } else {
    const std::wstring &caption = Arg(c, 0, L"button caption");
    for (HWND child : Children(Current))
      if (IsButtonClass(child) && IsWindowVisible(child) && SameCaption(TextOf(child), caption)) {
        button = child;
        break;
      }
    if (!button) Fail(L"no button \"" + caption + L"\"");
    id = GetDlgCtrlID(button);
  }
  if (button && !IsWindowEnabled(button)) Fail(L"button " + std::to_wstring(id) + L" is disabled");
  bool messageBox = IsMessageBox(Current);
  HWND parent = button ? GetParent(button) : Current;
  out.Num("id", id);
  if (button) out.Str("text", TextOf(button));
  PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
  if (messageBox) WaitGone(Current, TimeoutOf(c));
}

void RunCheck(const Command &c, Json &out) {
  HWND button = ControlArg(c);
  bool on = Arg(c, 1, L"on|off") == L"on";
  int before = CheckState(button);
  if ((before == BST_CHECKED) != on) {
    if (!IsWindowEnabled(button)) Fail(L"the control is disabled");
    Send(button, BM_CLICK, 0, 0);
  }
  out.Num("before", before).Num("checked", CheckState(button));
}

void RunSelect(const Command &c, Json &out) {
  HWND list = ControlArg(c);
  int count = (int)Send(list, LVM_GETITEMCOUNT, 0, 0);
  std::vector<bool> wanted(count, false);
  for (size_t i = 1; i < c.args.size(); ++i) {
    if (c.args[i] == L"all") wanted.assign(count, true);
    else if (c.args[i] == L"none") wanted.assign(count, false);
    else {
      long long row = Number(c.args[i], L"row");
      if (row < 0 || row >= count) Fail(L"no row " + c.args[i]);
      wanted[row] = true;
    }
  }
  std::vector<std::string> selected;
  for (int row = 0; row < count; ++row) {
    SetListSelection(list, row, wanted[row]);
    if (wanted[row]) selected.push_back(std::to_string(row));
  }
  out.Raw("selected", Array(selected));
}

void RunRows(const Command &c, Json &out) {
  NeedProcess();
  HWND list = ControlArg(c);
  RemoteBlock block(sizeof(LVITEMW) + sizeof(HDITEMW) + (RemoteTextChars + 1) * sizeof(wchar_t));
  std::vector<std::string> columnsJson;
  std::vector<std::wstring> columns = ListColumns(list, block);
  for (auto &column : columns) columnsJson.push_back(Quote(column));
  int columnCount = columns.empty() ? 1 : (int)columns.size();
  int count = (int)Send(list, LVM_GETITEMCOUNT, 0, 0);
  std::vector<std::string> rows;
  for (int row = 0; row < count; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columnCount; ++column) cells.push_back(Quote(ListCellText(list, block, row, column)));
    bool selected = (Send(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
    rows.push_back(Json().Raw("cells", Array(cells)).Bool("selected", selected).Num("param", (long long)ListRowParam(list, block, row)).Text());
  }
  out.Raw("columns", Array(columnsJson)).Raw("rows", Array(rows));
}

void RunWaitState(const Command &c, Json &out) {
  long long id = Number(Arg(c, 0, L"ID"), L"ID");
  const std::wstring &property = Arg(c, 1, L"PROP");
  const std::wstring &value = Arg(c, 2, L"VALUE");
  std::wstring seen;
  auto read = [&]() -> std::wstring {
    HWND w = FindControl(id, false);
    if (property == L"exists") return w ? L"1" : L"0";
    if (!w) return L"";
    if (property == L"text") return TextOf(w);
    if (property == L"visible") return IsWindowVisible(w) ? L"1" : L"0";
    if (property == L"enabled") return IsWindowEnabled(w) ? L"1" : L"0";
    if (property == L"checked") return std::to_wstring(CheckState(w));
    if (property == L"count") return std::to_wstring(Send(w, LVM_GETITEMCOUNT, 0, 0));
    Fail(L"unknown property " + property);
  };
  if (!Poll(TimeoutOf(c), [&] { return (seen = read()) == value; }))
    Fail(L"timeout waiting for " + property + L" of " + std::to_wstring(id) + L" to be \"" + value + L"\" (is \"" + seen + L"\")");
  out.Num("id", id).Str(Narrow(property).c_str(), seen);
}

void RunState(const Command &c, Json &out, bool mustExist) {
  long long id = Number(Arg(c, 0, L"ID"), L"ID");
  out = StateJson(FindControl(id, mustExist), id, out);
}

void RunWaitExit(const Command &c, Json &out) {
  NeedProcess();
  if (WaitForSingleObject(Process.hProcess, TimeoutOf(c)) != WAIT_OBJECT_0) Fail(L"timeout waiting for the process to end");
  DWORD code = 0;
  GetExitCodeProcess(Process.hProcess, &code);
  out.Num("exit_code", code);
}

// Every command by its name. Names not here are refused before the script runs,
// so that a typo does not leave a program half driven.
using Handler = void (*)(const Command &c, Json &out);
const struct {
  const wchar_t *name;
  Handler run;
} Commands[] = {
    {L"start", RunStart},
    {L"resume", [](const Command &, Json &) {
       NeedProcess();
       if (ResumeThread(Process.hThread) == (DWORD)-1) Fail(L"ResumeThread failed");
     }},
    {L"wait-exit", RunWaitExit},
    {L"kill", [](const Command &, Json &) {
       NeedProcess();
       TerminateProcess(Process.hProcess, 9);
       WaitForSingleObject(Process.hProcess, 5000);
     }},
    {L"alive", [](const Command &, Json &out) { out.Bool("alive", ProcessAlive()); }},
    {L"clock", [](const Command &, Json &out) {
       NeedProcess();
       LARGE_INTEGER now, frequency;
       QueryPerformanceCounter(&now);
       QueryPerformanceFrequency(&frequency);
       out.Num("ms", (now.QuadPart - Started.QuadPart) * 1000 / frequency.QuadPart);
     }},
    {L"memory", [](const Command &, Json &out) {
       NeedProcess();
       PROCESS_MEMORY_COUNTERS counters = {};
       counters.cb = sizeof counters;
       if (!GetProcessMemoryInfo(Process.hProcess, &counters, sizeof counters)) Fail(L"GetProcessMemoryInfo failed");
       out.Num("working_set", (long long)counters.WorkingSetSize).Num("peak_working_set", (long long)counters.PeakWorkingSetSize);
     }},
    {L"rename", [](const Command &c, Json &) {
       if (!MoveFileExW(Arg(c, 0, L"FROM").c_str(), Arg(c, 1, L"TO").c_str(), MOVEFILE_REPLACE_EXISTING))
         Fail(L"cannot rename " + c.args[0] + L" (error " + std::to_wstring(GetLastError()) + L")");
     }},
    {L"delete", [](const Command &c, Json &) {
       if (!DeleteFileW(Arg(c, 0, L"PATH").c_str()))
         Fail(L"cannot delete " + c.args[0] + L" (error " + std::to_wstring(GetLastError()) + L")");
     }},
    {L"sleep", [](const Command &c, Json &) { Sleep((DWORD)Number(Arg(c, 0, L"MS"), L"MS")); }},
    {L"timeout", [](const Command &c, Json &) { DefaultTimeout = (DWORD)Number(Arg(c, 0, L"MS"), L"MS"); }},
    {L"on-error", [](const Command &c, Json &) {
       const std::wstring &mode = Arg(c, 0, L"stop|continue");
       if (mode != L"stop" && mode != L"continue") Fail(L"on-error takes stop or continue");
       ContinueOnError = mode == L"continue";
     }},
    {L"echo", [](const Command &c, Json &out) { out.Str("text", c.args.empty() ? L"" : c.args[0]); }},
    {L"wait-window", RunWaitWindow},
    {L"wait-msgbox", RunWaitMsgBox},
    {L"wait-gone", [](const Command &c, Json &) {
       if (!Current) Fail(L"no current window");
       WaitGone(Current, TimeoutOf(c));
     }},
    {L"windows", [](const Command &, Json &out) { out.Raw("windows", WindowsJson()); }},
    {L"press", RunPress},
    {L"click", [](const Command &c, Json &) { Send(ControlArg(c), BM_CLICK, 0, 0); }},
    {L"check", RunCheck},
    {L"type", [](const Command &c, Json &) { Send(ControlArg(c), WM_SETTEXT, 0, (LPARAM)Arg(c, 1, L"TEXT").c_str()); }},
    {L"select", RunSelect},
    {L"close", [](const Command &, Json &) {
       if (!Current || !IsWindow(Current)) Fail(L"no current window");
       PostMessageW(Current, WM_SYSCOMMAND, SC_CLOSE, 0);
     }},
    {L"text", [](const Command &c, Json &out) {
       HWND w = ControlArg(c);
       out.Num("id", GetDlgCtrlID(w)).Str("text", TextOf(w));
     }},
    {L"state", [](const Command &c, Json &out) { RunState(c, out, false); }},
    {L"rect", [](const Command &c, Json &out) { RunState(c, out, true); }},
    {L"controls", [](const Command &, Json &out) {
       std::vector<std::string> items;
       for (HWND child : Children(FindControl(0))) items.push_back(StateJson(child, GetDlgCtrlID(child)).Text());
       out.Raw("controls", Array(items));
     }},
    {L"rows", RunRows},
    {L"wait-state", RunWaitState},
    {L"screenshot", [](const Command &c, Json &out) {
       const std::wstring *asIs = c.Option(L"as-is");
       SaveBitmap(FindControl(0), Arg(c, 0, L"FILE"), !asIs || *asIs == L"0");
       out.Str("file", c.args[0]);
     }},
};

Handler FindCommand(const std::wstring &name) {
  for (const auto &command : Commands)
    if (name == command.name) return command.run;
  return nullptr;
}

std::vector<std::string> ReadLines(FILE *in) {
  std::vector<std::string> lines;
  std::string line;
  int ch;
  while ((ch = fgetc(in)) != EOF) {
    if (ch == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (ch != '\r') {
      line += (char)ch;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void EndStartedProcess() {
  if (ProcessAlive()) {
    TerminateProcess(Process.hProcess, 9);
    WaitForSingleObject(Process.hProcess, 5000);
    Emit(Json().Str("cmd", L"end").Bool("killed", true));
  }
}

}  // namespace

int main(int argc, char **argv) {
  FILE *in = stdin;
  if (argc > 1 && strcmp(argv[1], "-") != 0) {
    in = _wfopen(Widen(argv[1]).c_str(), L"rb");
    if (!in) {
      fprintf(stderr, "uidriver: cannot open %s\n", argv[1]);
      return 2;
    }
  }
  std::vector<std::string> lines = ReadLines(in);
  std::vector<Command> script;
  for (size_t i = 0; i < lines.size(); ++i) {
    Command command;
    command.line = (int)i + 1;
    if (!SplitLine(Widen(lines[i]), command)) {
      fprintf(stderr, "uidriver: line %d: unterminated quote\n", command.line);
      return 2;
    }
    if (command.name.empty() || command.name[0] == L'#') continue;
    if (!FindCommand(command.name)) {
      fprintf(stderr, "uidriver: line %d: unknown command %s\n", command.line, Narrow(command.name).c_str());
      return 2;
    }
    script.push_back(command);
  }

  bool failed = false;
  for (const Command &command : script) {
    try {
      Json out;
      FindCommand(command.name)(command, out.Str("cmd", command.name));
      Emit(out);
    } catch (const Failure &failure) {
      Emit(Json().Str("cmd", command.name).Num("line", command.line).Str("error", failure.message)
               .Raw("windows", WindowsJson()));
      fprintf(stderr, "uidriver: line %d (%s): %s\n", command.line, Narrow(command.name).c_str(),
              Narrow(failure.message).c_str());
      failed = true;
      if (!ContinueOnError) break;
    }
  }
  EndStartedProcess();
  return failed ? 3 : 0;
}
