// SFXFileList.cpp -- the file list (control 401 of the main dialog): rows, selection, EntryList.
#include "SFXFileList.h"

#include <commctrl.h>
#include <shellapi.h>

#include "SFXDefs.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

static HWND FileList;  // the list control of the dialog SetUpFileList was last given

// Straight to the control: a dialog-item message has the system look the control up
// among the dialog's children each time, which under wine is a server round trip.
static LRESULT SendToList(UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(FileList, message, wParam, lParam);
}

static void AddListColumn(int index, const char *header, int format, int width) {
  WideText text(header);
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = format;
  column.cx = width;
  column.pszText = text.Data();
  column.iSubItem = index;
  SendToList(LVM_INSERTCOLUMNW, index, (LPARAM)&column);
}

void SetUpFileList(HWND dialog) {
  FileList = GetDlgItem(dialog, IdFileList);
  AddListColumn(0, "Filename", LVCFMT_LEFT, 228);
  AddListColumn(1, "Size", LVCFMT_RIGHT, 64);
  SendToList(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // The list is LVS_SHAREIMAGELISTS: the shell keeps owning this image list.
  SendToList(LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)SystemImageList);
}

// Drawing as it changes, the list invalidates every row it inserts or selects,
// and moves its column header for every row inserted: under wine 20,000 members
// took 20 seconds to list that way. Allowing redraw sets WS_VISIBLE as a side
// effect, so the release hides the list again when it was hidden when held.
void HoldFileList(bool hold) {
  static LONG heldStyle;  // the list's window style when it was last held
  if (hold) heldStyle = GetWindowLongA(FileList, GWL_STYLE);
  SendToList(WM_SETREDRAW, !hold, 0);
  if (!hold && !(heldStyle & WS_VISIBLE)) ShowWindow(FileList, SW_HIDE);
}

// Appends one record to EntryList, doubling its room when full; returns the new index.
static uint32_t AppendEntry(const MemberInfo &entry) {
  if (EntryList.Count == EntryList.Capacity) {
    uint32_t capacity = EntryList.Capacity ? EntryList.Capacity * 2 : 64;
    MemberInfo *items = (MemberInfo *)AllocateMemory(capacity * sizeof(MemberInfo));
    if (EntryList.Count) CopyMemory(items, EntryList.Items, EntryList.Count * sizeof(MemberInfo));
    ReleaseMemory(EntryList.Items);
    EntryList.Items = items;
    EntryList.Capacity = capacity;
  }
  EntryList.Items[EntryList.Count] = entry;
  return EntryList.Count++;
}

static void SetCellText(int row, int column, const SfxString &text) {
  WideText wide(text);
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = wide.Data();
  SendToList(LVM_SETITEMTEXTW, row, (LPARAM)&item);
}

// The icon of a row. Asked with file attributes, the shell goes by the name's
// extension alone and does not look at the disk: one question per extension
// does for every member (an archive of 20,000 members has a few dozen).
struct KnownIcon {
  char Extension[16];  // with its dot, compared in any case; "" for names without one
  int Icon;
};
enum : uint32_t { KnownIcons = 64 };
static KnownIcon *known;        // the extensions asked about so far; on the heap, not in the image
static uint32_t knownCount;     // entries of known in use

static int IconOf(const SfxString &name) {
  if (!known) known = (KnownIcon *)AllocateMemory(KnownIcons * sizeof(KnownIcon));
  SfxString bare = ExtractName(name);
  int dot = bare.FindLastChar('.');
  const char *extension = dot < 0 ? "" : bare.Text() + dot;
  bool cacheable = lstrlenA(extension) < (int)sizeof known[0].Extension;
  for (uint32_t i = 0; cacheable && i < knownCount; i++)
    if (lstrcmpiA(known[i].Extension, extension) == 0) return known[i].Icon;
  SHFILEINFOW info = {};
  SHGetFileInfoW(WideText(bare), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                 SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  if (cacheable && knownCount < KnownIcons) {
    lstrcpyA(known[knownCount].Extension, extension);
    known[knownCount++].Icon = info.iIcon;
  }
  return info.iIcon;
}

void AddFileItem(const SfxString &name, const MemberInfo &entry) {
  WideText text(name);
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
  item.iItem = 0x7FFFFFFF;
  item.state = (SfxSettings.Options & OptSelectFiles) ? LVIS_SELECTED : 0;
  item.stateMask = LVIS_SELECTED;
  item.pszText = text.Data();
  uint32_t length = (uint32_t)lstrlenW(text);
  if (length > LongestName) LongestName = length;
  item.iImage = IconOf(name);
  item.lParam = (LPARAM)AppendEntry(entry);
  int row = (int)SendToList(LVM_INSERTITEMW, 0, (LPARAM)&item);
  SetCellText(row, 1, DecimalText(entry.UncompressedSize));
}

// Room for the longest name: a name from a member's Unicode Path field may be
// longer than any stored one, and must come back whole.
void GetFileItem(int row, MemberInfo &entry, SfxString &name) {
  WideBuffer text(LongestName);
  LVITEMW item = {};
  item.mask = LVIF_PARAM | LVIF_TEXT;
  item.iItem = row;
  item.pszText = text;
  item.cchTextMax = (int)LongestName + 1;
  SendToList(LVM_GETITEMW, 0, (LPARAM)&item);
  entry = EntryList.Items[item.lParam];
  // The list may point pszText at its own copy of the text instead of filling ours.
  name = FromWide(item.pszText);
}

static void SetRowSelection(WPARAM row, UINT state) {
  LVITEMW item = {};
  item.state = state;
  item.stateMask = LVIS_SELECTED;
  SendToList(LVM_SETITEMSTATE, row, (LPARAM)&item);
}

void DeselectFileItem(int row) { SetRowSelection(row, 0); }

void SelectAllFileItems() {
  HoldFileList(true);
  SetRowSelection((WPARAM)-1, LVIS_SELECTED);
  HoldFileList(false);
}

void ShowFirstSelectedItem(HWND list) {
  LRESULT row = SendMessageW(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
  if (row >= 0) SendMessageW(list, LVM_ENSUREVISIBLE, (WPARAM)row, FALSE);
}
