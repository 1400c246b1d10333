// SFXFileList.cpp -- the file list (control 401 of the main dialog): rows, selection, EntryList.
#include "SFXFileList.h"

#include <commctrl.h>
#include <shellapi.h>

#include "SFXDefs.h"
#include "SFXProcsPath.h"
#include "SFXVars.h"
#include "SFXWide.h"

static LRESULT SendToList(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageW(dialog, IdFileList, message, wParam, lParam);
}

void AddListColumn(HWND dialog, int index, const char *header, int format, int width) {
  WideText text(header);
  LVCOLUMNW column;
  ZeroMemory(&column, sizeof column);
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = format;
  column.cx = width;
  column.pszText = text.Data();
  column.iSubItem = index;
  SendToList(dialog, LVM_INSERTCOLUMNW, index, (LPARAM)&column);
}

void SetUpFileList(HWND dialog) {
  AddListColumn(dialog, 0, "Filename", LVCFMT_LEFT, 228);
  AddListColumn(dialog, 1, "Size", LVCFMT_RIGHT, 64);
  SendToList(dialog, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // The list is LVS_SHAREIMAGELISTS: the shell keeps owning this image list.
  SendToList(dialog, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)SystemImageList);
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

// Sets the text of one cell.
static void SetCellText(HWND dialog, int row, int column, const SfxString &text) {
  WideText wide(text);
  LVITEMW item;
  ZeroMemory(&item, sizeof item);
  item.iSubItem = column;
  item.pszText = wide.Data();
  SendToList(dialog, LVM_SETITEMTEXTW, row, (LPARAM)&item);
}

void AddFileItem(HWND dialog, const SfxString &name, const MemberInfo &entry) {
  // The icon follows from the bare name's extension; the shell does not look at the disk.
  SHFILEINFOW info;
  ZeroMemory(&info, sizeof info);
  SHGetFileInfoW(WideText(ExtractName(name)), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                 SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);

  LVITEMW item;
  ZeroMemory(&item, sizeof item);
  item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
  item.iItem = 0x7FFFFFFF;
  item.state = (SfxSettings.Options & OptSelectFiles) ? LVIS_SELECTED : 0;
  item.stateMask = LVIS_SELECTED;
  item.iImage = info.iIcon;
  item.lParam = (LPARAM)AppendEntry(entry);
  int row = (int)SendToList(dialog, LVM_INSERTITEMW, 0, (LPARAM)&item);
  SetCellText(dialog, row, 0, name);
  SetCellText(dialog, row, 1, DecimalText(Field32(entry, EntryUncompressedSize)));
}

void GetFileItem(HWND dialog, int row, MemberInfo &entry, SfxString &name) {
  LVITEMW item;
  ZeroMemory(&item, sizeof item);
  item.mask = LVIF_PARAM;
  item.iItem = row;
  SendToList(dialog, LVM_GETITEMW, 0, (LPARAM)&item);
  entry = EntryList.Items[item.lParam];

  WideBuffer text(MaxNameLength);
  ZeroMemory(&item, sizeof item);
  item.pszText = text;
  item.cchTextMax = MaxNameLength + 1;
  int length = (int)SendToList(dialog, LVM_GETITEMTEXTW, row, (LPARAM)&item);
  name = text.Text(length > 0 ? (uint32_t)length : 0);
}

static void SetRowSelection(HWND dialog, WPARAM row, UINT state) {
  LVITEMW item;
  ZeroMemory(&item, sizeof item);
  item.state = state;
  item.stateMask = LVIS_SELECTED;
  SendToList(dialog, LVM_SETITEMSTATE, row, (LPARAM)&item);
}

void DeselectFileItem(HWND dialog, int row) { SetRowSelection(dialog, row, 0); }

void SelectAllFileItems(HWND dialog) { SetRowSelection(dialog, (WPARAM)-1, LVIS_SELECTED); }

void ShowFirstSelectedItem(HWND list) {
  int count = (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  for (int row = 0; row < count; row++) {
    if (SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) == LVIS_SELECTED) {
      SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
      return;
    }
  }
}
