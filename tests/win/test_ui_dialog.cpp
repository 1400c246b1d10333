// test_ui_dialog.cpp -- the file list's rows and EntryList, and the dialog layout
// helpers (moves in the dialog's own units, enabling), on real windows under wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "SFXDefs.h"
#include "SFXDialogLayout.h"
#include "SFXFileList.h"
#include "SFXVars.h"
#include "stub_test.h"

namespace {

MemberInfo EntryOfSize(uint32_t size, uint32_t marker) {
  ArchiveEntry entry = {};
  PutLE32(entry.Bytes + EntryUncompressedSize, size);
  PutLE32(entry.Bytes + EntryLocalHeaderOffset, marker);
  return Described(entry);
}

class FileListTest : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    list_ = CreateFileList(&dialog_);
    ASSERT_NE(list_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    StubTest::TearDown();
  }
  int Rows() { return (int)SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0); }
  bool Selected(int row) { return SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) == LVIS_SELECTED; }
  HWND dialog_ = nullptr;
  HWND list_ = nullptr;
};

TEST_F(FileListTest, ColumnsAndStyles) {
  LVCOLUMNA column = {};
  char header[32];
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  column.pszText = header;
  column.cchTextMax = sizeof header;
  ASSERT_TRUE(SendMessageA(list_, LVM_GETCOLUMNA, 0, (LPARAM)&column));
  EXPECT_STREQ(header, "Filename");
  EXPECT_EQ(column.cx, 228);
  EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  ASSERT_TRUE(SendMessageA(list_, LVM_GETCOLUMNA, 1, (LPARAM)&column));
  EXPECT_STREQ(header, "Size");
  EXPECT_EQ(column.cx, 64);
  EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT);
  EXPECT_TRUE(SendMessageA(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
  EXPECT_EQ((HIMAGELIST)SendMessageA(list_, LVM_GETIMAGELIST, LVSIL_SMALL, 0), SystemImageList);
}

TEST_F(FileListTest, RowsKeepOrderNamesSizesAndTheirRecords) {
  SfxSettings.Options = 0;
  const char *names[] = {"zeta.txt", "docs\\alpha.pdf", "noext", "big.bin"};
  const uint32_t sizes[] = {0, 123456, 7, 4294967295u};
  for (int i = 0; i < 4; i++) AddFileItem(names[i], EntryOfSize(sizes[i], 1000 + i));

  ASSERT_EQ(Rows(), 4);
  // Appended in the order given, never sorted; plain unsigned decimals.
  EXPECT_EQ(CellText(list_, 0, 0), "zeta.txt");
  EXPECT_EQ(CellText(list_, 1, 0), "docs\\alpha.pdf");
  EXPECT_EQ(CellText(list_, 0, 1), "0");
  EXPECT_EQ(CellText(list_, 1, 1), "123456");
  EXPECT_EQ(CellText(list_, 3, 1), "4294967295");
  for (int row = 0; row < 4; row++) {
    EXPECT_FALSE(Selected(row));
    MemberInfo entry;
    SfxString name;
    GetFileItem(row, entry, name);
    EXPECT_STREQ(name.Text(), names[row]);
    EXPECT_EQ(Field32(entry, EntryLocalHeaderOffset), 1000u + row);
  }
}

TEST_F(FileListTest, EntryListGrowsPastItsFirstBlock) {
  SfxSettings.Options = 0;
  for (uint32_t i = 0; i < 300; i++) AddFileItem("f.dat", EntryOfSize(i, i));
  ASSERT_EQ(EntryList.Count, 300u);
  ASSERT_EQ(Rows(), 300);
  for (uint32_t i = 0; i < 300; i++) ASSERT_EQ(Field32(EntryList.Items[i], EntryLocalHeaderOffset), i);
  MemberInfo entry;
  SfxString name;
  GetFileItem(299, entry, name);
  EXPECT_EQ(Field32(entry, EntryUncompressedSize), 299u);
}

TEST_F(FileListTest, SelectionOperations) {
  SfxSettings.Options = OptSelectFiles;
  for (int i = 0; i < 3; i++) AddFileItem("a.txt", EntryOfSize(1, i));
  for (int row = 0; row < 3; row++) EXPECT_TRUE(Selected(row)) << row;
  DeselectFileItem(1);
  EXPECT_TRUE(Selected(0));
  EXPECT_FALSE(Selected(1));
  EXPECT_TRUE(Selected(2));
  DeselectFileItem(0);
  DeselectFileItem(2);
  EXPECT_EQ(SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0), 0);
  SelectAllFileItems();
  EXPECT_EQ(SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0), 3);
}

TEST_F(FileListTest, ShowFirstSelectedItemScrollsToIt) {
  SfxSettings.Options = 0;
  for (int i = 0; i < 200; i++) AddFileItem("a.txt", EntryOfSize(1, i));
  ShowWindow(dialog_, SW_SHOWNA);
  ShowWindow(list_, SW_SHOWNA);
  ShowFirstSelectedItem(list_);  // nothing selected: stays at the top
  EXPECT_EQ(SendMessageA(list_, LVM_GETTOPINDEX, 0, 0), 0);
  LVITEMA item = {};
  item.state = item.stateMask = LVIS_SELECTED;
  SendMessageA(list_, LVM_SETITEMSTATE, 150, (LPARAM)&item);
  SendMessageA(list_, LVM_SETITEMSTATE, 180, (LPARAM)&item);
  ShowFirstSelectedItem(list_);
  RECT row, client;
  GetClientRect(list_, &client);
  row.left = LVIR_BOUNDS;
  SendMessageA(list_, LVM_GETITEMRECT, 150, (LPARAM)&row);
  EXPECT_GE(row.top, 0);
  EXPECT_LE(row.bottom, client.bottom);
}

// A dialog built in memory with the main dialog's font and a few of its controls.
class LayoutTest : public ::testing::Test {
 protected:
  static void Words(std::vector<WORD> &out, const wchar_t *text) {
    do out.push_back(*text); while (*text++);
  }
  static void Item(std::vector<WORD> &out, DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
                   const wchar_t *text) {
    while (out.size() % 2) out.push_back(0);  // DWORD alignment
    DLGITEMTEMPLATE item = {style | WS_CHILD, 0, x, y, cx, cy, id};
    const WORD *p = (const WORD *)&item;
    out.insert(out.end(), p, p + sizeof item / 2);
    out.push_back(0xFFFF);
    out.push_back(atom);
    Words(out, text);
    out.push_back(0);  // no creation data
  }
  void SetUp() override {
    std::vector<WORD> t;
    DLGTEMPLATE header = {WS_POPUP | WS_CAPTION | DS_SETFONT, 0, 4, 0, 0, 264, 116};
    const WORD *p = (const WORD *)&header;
    t.insert(t.end(), p, p + sizeof header / 2);
    t.push_back(0);  // no menu
    t.push_back(0);  // standard class
    Words(t, L"");
    t.push_back(8);
    Words(t, L"MS SANS SERIF");
    Item(t, WS_VISIBLE | BS_PUSHBUTTON, 163, 93, 45, 14, IDOK, 0x0080, L"&Unzip");
    Item(t, BS_PUSHBUTTON, 56, 93, 58, 14, IdShowFiles, 0x0080, L"Show &files");  // hidden
    Item(t, WS_VISIBLE | ES_AUTOHSCROLL, 47, 15, 192, 12, IdEdit, 0x0081, L"");
    Item(t, WS_VISIBLE, 7, 34, 38, 8, IdFilesLabel, 0x0082, L"x");
    dialog_ = CreateDialogIndirectParamA(nullptr, (DLGTEMPLATE *)t.data(), nullptr, DialogProc, 0);
    ASSERT_NE(dialog_, nullptr);
    progress_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 10, dialog_,
                                (HMENU)(INT_PTR)IdProgress, nullptr, nullptr);
    ShowWindow(dialog_, SW_SHOWNA);
  }
  void TearDown() override { DestroyWindow(dialog_); }
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
  int Pixels(int units) {
    RECT r = {0, 0, 0, units};
    MapDialogRect(dialog_, &r);
    return r.bottom;
  }
  RECT Rect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
  }
  HWND dialog_ = nullptr;
  HWND progress_ = nullptr;
};

TEST_F(LayoutTest, MovesUseTheDialogsOwnUnits) {
  HWND button = GetDlgItem(dialog_, IDOK);
  RECT before = Rect(button), dialogBefore = Rect(dialog_);
  MoveVertically(button, true, 66);
  MoveVertically(dialog_, false, 66);
  RECT after = Rect(button), dialogAfter = Rect(dialog_);
  EXPECT_EQ(after.top - before.top, Pixels(66));
  EXPECT_EQ(after.bottom - before.bottom, Pixels(66));
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(dialogAfter.top, dialogBefore.top);  // the dialog only grows
  EXPECT_EQ(dialogAfter.bottom - dialogBefore.bottom, Pixels(66));
  // Back up by the combined bands: every move lands where the template would put it.
  MoveVertically(button, true, -66 - 33);
  EXPECT_EQ(Rect(button).top - before.top, -Pixels(33));
  MoveVertically(nullptr, true, 10);  // a destroyed control: nothing happens
}

TEST_F(LayoutTest, EnableDialogControlsSparesHiddenWindowsAndTheProgressBar) {
  HWND hidden = GetDlgItem(dialog_, IdShowFiles);
  EnableDialogControls(dialog_, false);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IdEdit)));
  EXPECT_TRUE(IsWindowEnabled(hidden));
  EXPECT_TRUE(IsWindowEnabled(progress_));
  EnableWindow(hidden, FALSE);
  EnableDialogControls(dialog_, true);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
  EXPECT_FALSE(IsWindowEnabled(hidden));
}

}  // namespace
