// test_startup_folders.cpp -- the default target folder: macros, registry values,
// %variables% and full paths, against this test's own wine prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "SFXDefs.h"
#include "SFXProcsFolder.h"
#include "stub_test.h"

namespace {

std::string Resolve(const std::string &text) {
  return S(ResolveTargetFolder(SfxString(text.c_str(), (uint32_t)text.size()), (uint32_t)text.size()));
}

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  return std::string(buffer, GetCurrentDirectoryA(MAX_PATH, buffer));
}

std::string WindowsFolder() {
  char buffer[MAX_PATH];
  return std::string(buffer, GetWindowsDirectoryA(buffer, MAX_PATH));
}

TEST(TargetFolder, ShortTextsGiveTheCurrentFolder) {
  EXPECT_EQ(S(ResolveTargetFolder("", 0)), CurrentFolder());
  EXPECT_EQ(S(ResolveTargetFolder(".", 1)), CurrentFolder());
  EXPECT_EQ(S(ResolveTargetFolder("$", 1)), CurrentFolder());
}

TEST(TargetFolder, SystemFolders) {
  char system[MAX_PATH];
  std::string systemFolder(system, GetSystemDirectoryA(system, MAX_PATH));
  EXPECT_EQ(Resolve("$W"), WindowsFolder());
  EXPECT_EQ(Resolve("$Wsub"), WindowsFolder());
  EXPECT_EQ(Resolve("$S"), systemFolder);
  EXPECT_EQ(S(GetSystemFolder(true)), systemFolder);
}

TEST(TargetFolder, VariablesAndRelativePaths) {
  SetEnvironmentVariableA("SFXTEST_DRIVE", "C:\\Drive");
  EXPECT_EQ(Resolve("%SFXTEST_DRIVE%\\Data"), "C:\\Drive\\Data");
  EXPECT_EQ(Resolve("Data"), CurrentFolder() + "\\Data");
  EXPECT_EQ(Resolve("C:\\a\\..\\b"), "C:\\b");
  EXPECT_EQ(S(ExpandEnvironment("%SFXTEST_UNDEFINED%\\x")), "%SFXTEST_UNDEFINED%\\x");
  EXPECT_EQ(S(ExpandEnvironment("")), "");
}

TEST(TargetFolder, LongResultsComeOutWhole) {
  std::string long500(500, 'x'), deep = "C:\\" + std::string(200, 'y') + "\\" + std::string(400, 'z');
  SetEnvironmentVariableA("SFXTEST_LONG", long500.c_str());
  EXPECT_EQ(S(ExpandEnvironment("%SFXTEST_LONG%%SFXTEST_LONG%")), long500 + long500);
  EXPECT_EQ(S(ExpandFullPath(deep.c_str())), deep);
  EXPECT_EQ(Resolve("C:\\%SFXTEST_LONG%\\.\\" + std::string(40, 'z')), "C:\\" + long500 + "\\" + std::string(40, 'z'));
  // Past what the system takes: nothing, rather than a part.
  std::string huge(LongPathChars, 'h');
  EXPECT_EQ(S(ExpandEnvironment(huge.c_str())), "");
}

TEST(TargetFolder, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(S(UpperCaseAscii("$hlm-a\xe9z\xff")), "$HLM-A\xe9Z\xff");
}

// %TEMP% points at a scratch folder, where the $T folders are looked at.
class TempFolderName : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    GetEnvironmentVariableA("TEMP", saved_, sizeof saved_);
    SetEnvironmentVariableA("TEMP", root_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("TEMP", saved_);
    ScratchFolder::TearDown();
  }
  char saved_[MAX_PATH] = "";
};

// Each $T is a folder of its own, made empty at once under a name no earlier
// one had, whatever the text behind the T and however TEMP ends, and held
// (wine lets a held folder move, Windows does not); a TEMP that cannot take a
// folder gives none.
TEST_F(TempFolderName, EveryOneIsANewEmptyFolderInsideTemp) {
  std::vector<std::string> made;
  for (const char *temp : {"", "\\"}) {
    SetEnvironmentVariableA("TEMP", (root_ + temp).c_str());
    for (const char *text : {"$T", "$Tfoo"}) {
      made.push_back(Resolve(text));
      EXPECT_EQ(S(PrivateFolder), made.back());
      EXPECT_NE(PrivateFolderHandle, INVALID_HANDLE_VALUE);
      CloseFileHandle(PrivateFolderHandle);
    }
  }
  for (size_t i = 0; i < made.size(); i++) {
    const std::string &folder = made[i];
    ASSERT_EQ(folder.rfind(root_ + "\\_zip", 0), 0u) << folder;
    EXPECT_GT(folder.size(), root_.size() + 5 + 10) << folder;  // a number too large to guess
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << folder << " was not made, or is not empty";
    for (size_t j = 0; j < i; j++) EXPECT_NE(folder, made[j]);
  }
  SetEnvironmentVariableA("TEMP", Path("missing\\deeper").c_str());
  EXPECT_EQ(Resolve("$T"), "");
}

TEST_F(TempFolderName, LowerCaseTIsARegistryMacro) { EXPECT_EQ(Resolve("$t"), ""); }

std::string Sddl(void *descriptor) {
  char *text = nullptr;
  if (descriptor)
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
  std::string sddl(text ? text : "");
  LocalFree(text);
  return sddl;
}

std::string DaclOf(const std::string &path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &descriptor);
  std::string sddl = Sddl(descriptor);
  LocalFree(descriptor);
  return sddl;
}

// An elevated run's private folder lets SYSTEM and the Administrators in, and
// what it holds after it, nobody else, and takes nothing from its parent; an
// unelevated run's is made as any folder. $T is made so exactly when the run
// is elevated (under wine every program is; wine keeps no descriptor, and
// shows what it derives from the access it grants the owner, group and others).
TEST_F(TempFolderName, AnElevatedRunsFolderIsForAdministratorsAlone) {
  EXPECT_EQ(Sddl((void *)PrivateFolderSecurity(true)), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  EXPECT_EQ(PrivateFolderSecurity(false), nullptr);
  SECURITY_ATTRIBUTES security = {sizeof security, (void *)PrivateFolderSecurity(true), FALSE};
  ASSERT_TRUE(CreateDirectoryA(Path("protected").c_str(), &security));
  ASSERT_TRUE(CreateDirectoryA(Path("plain").c_str(), nullptr));
  ASSERT_NE(DaclOf(Path("protected")), DaclOf(Path("plain")));
  EXPECT_EQ(DaclOf(Resolve("$T")), DaclOf(Path(RunsElevated() ? "protected" : "plain")));
}

// Values below a key of this test's own; the wine prefix is the test's.
class RegistryMacro : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test", "Folder", REG_SZ, "C:\\From\\User");
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test", "", REG_SZ, "C:\\Default");
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test", "Expand", REG_EXPAND_SZ, "%SFXTEST_ROOT%\\Sub");
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test", "Long", REG_SZ, std::string(LongPathChars, 'L').c_str());
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test", "Fits", REG_SZ, ("C:\\" + std::string(516, 'F')).c_str());
    SetValue(HKEY_CURRENT_USER, "Software\\sfxkit-test\\Deeper", "Value", REG_SZ, "C:\\Deeper");
    SetValue(HKEY_LOCAL_MACHINE, "Software\\sfxkit-test", "Folder", REG_SZ, "C:\\From\\Machine");
    SetValue(HKEY_USERS, ".Default\\Software\\sfxkit-test", "Folder", REG_SZ, "C:\\From\\Users");
    SetEnvironmentVariableA("SFXTEST_ROOT", "C:\\Expanded");
  }
  static void TearDownTestSuite() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\sfxkit-test");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\sfxkit-test");
    RegDeleteTreeA(HKEY_USERS, ".Default\\Software\\sfxkit-test");
  }
  static void SetValue(HKEY root, const char *path, const char *name, DWORD type, const char *data) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE *)data, (DWORD)strlen(data) + 1), ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST_F(RegistryMacro, EveryRootOfTheTable) {
  EXPECT_EQ(Resolve("$CURUSER\\Software\\sfxkit-test\\Folder"), "C:\\From\\User");
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Folder"), "C:\\From\\User");
  EXPECT_EQ(Resolve("$LOCAL\\Software\\sfxkit-test\\Folder"), "C:\\From\\Machine");
  EXPECT_EQ(Resolve("$HLM\\Software\\sfxkit-test\\Folder"), "C:\\From\\Machine");
  EXPECT_EQ(Resolve("$USERS\\.Default\\Software\\sfxkit-test\\Folder"), "C:\\From\\Users");
  EXPECT_EQ(Resolve("$HU\\.Default\\Software\\sfxkit-test\\Folder"), "C:\\From\\Users");
}

TEST_F(RegistryMacro, RootsAreFoundByPositionAndCase) {
  EXPECT_EQ(Resolve("$hlm\\Software\\sfxkit-test\\Folder"), "C:\\From\\Machine");
  EXPECT_EQ(Resolve("$H\\Software\\sfxkit-test\\Folder"), "C:\\From\\User");
  EXPECT_EQ(Resolve("$HL\\Software\\sfxkit-test\\Folder"), "C:\\From\\Machine");
  EXPECT_EQ(Resolve("$HKLM\\Software\\sfxkit-test\\Folder"), "");
  EXPECT_EQ(Resolve("$CUR\\Software\\sfxkit-test\\Folder"), "C:\\From\\User");  // begins at position 1
  EXPECT_EQ(Resolve("$USER\\.Default\\Software\\sfxkit-test\\Folder"), "C:\\From\\Users");
  EXPECT_EQ(Resolve("$LM\\Software\\sfxkit-test\\Folder"), "");                // not in the table
  EXPECT_EQ(S(ReadRegistryFolder("CURUSER\\Software\\sfxkit-test\\Folder")), "");  // position 2
  EXPECT_EQ(Resolve("$xoftware\\sfxkit-test"), "");                            // root not in the table
  EXPECT_EQ(Resolve("$CURUSER"), "");                                           // no backslash at all
}

TEST_F(RegistryMacro, SuffixDefaultValueAndExpansion) {
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Folder+\\Tools"), "C:\\From\\User\\Tools");
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Folder+\\A+B"), "C:\\From\\User\\A+B");
  EXPECT_EQ(Resolve("$CURUSER\\Software\\sfxkit-test\\"), "C:\\Default");  // key path keeps its backslash
  EXPECT_EQ(Resolve("$CURUSER\\Software\\sfxkit-test"), "");               // value sfxkit-test of Software
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Deeper\\Value"), "C:\\Deeper");
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Expand"), "C:\\Expanded\\Sub");
}

TEST_F(RegistryMacro, MissingOrOversizedValuesGiveNothing) {
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Missing"), "");
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-absent\\Folder"), "");
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Long"), "");  // one character more than the system takes
  EXPECT_EQ(Resolve("$HCU\\Software\\sfxkit-test\\Fits"), "C:\\" + std::string(516, 'F'));
}

}  // namespace
