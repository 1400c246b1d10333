// platform.h -- the few things sfxmake needs from the operating system, with one
// Linux and one Windows implementation. Paths and texts are UTF-8 throughout.
#ifndef SFXKIT_SFXMAKE_PLATFORM_H
#define SFXKIT_SFXMAKE_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// The program's arguments as UTF-8 (on Windows taken from the wide command line,
// so that names outside the ANSI code page survive).
std::vector<std::string> Utf8Arguments(int argc, char **argv);

// On Windows, before anything loads a DLL: whatever is loaded later by name comes
// from the system folder only, never from the folder sfxmake.exe lies in (a
// Downloads folder, where a planted DLL would see the password). Nothing elsewhere.
void RestrictDllSearch();

std::filesystem::path PathFromUtf8(const std::string &utf8);
std::string PathToUtf8(const std::filesystem::path &path);
std::FILE *OpenFile(const std::string &utf8Path, const char *mode);

// Moves the file's position `count` bytes on, past its end too (what is written
// there later leaves zeros between); false when the system refuses.
bool SeekForward(std::FILE *file, uint64_t count);

// Moves the file's position to `at`; false when the system refuses.
bool SeekTo(std::FILE *file, uint64_t at);

// The first `size` bytes of an open file (opened for reading too), mapped
// read-only: a page is read when it is first touched, so looking at a few
// records of a file of gigabytes costs a few pages.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;
  // False when the system refuses (SystemErrorText says why); `size` must not be 0.
  bool Map(std::FILE *file, uint64_t size);
  const uint8_t *Data() const { return (const uint8_t *)view_; }
  size_t Size() const { return size_; }

 private:
  void *view_ = nullptr;  // the mapped bytes; null when nothing is mapped
  size_t size_ = 0;       // how many
#ifdef _WIN32
  void *mapping_ = nullptr;  // the file mapping object behind view_
#endif
};

// Fills the buffer from the operating system's random source; false when it fails.
bool RandomBytes(uint8_t *buffer, size_t count);

bool StderrIsTerminal();

// The machine's physical memory in bytes (1 GiB when the system does not say).
uint64_t PhysicalMemory();

// Last-write time in seconds since 1970 (UTC); false when the file cannot be asked.
bool FileModTime(const std::string &utf8Path, int64_t *seconds);

// Why the last system call failed (errno on Linux, GetLastError on Windows).
std::string SystemErrorText();

// What a name in a folder is; a link is not followed. Link is any reparse point on Windows.
enum class EntryKind { Missing, File, Folder, Link, Other };

// What the name at utf8Path is, a link not followed. A link is a symbolic link,
// or on Windows a symbolic link or junction; other reparse points (a cloud
// file's placeholder, a deduplicated file) count as what they stand for.
EntryKind PathKind(const std::string &utf8Path);

// What a path leads to with every link on the way followed: its full path
// (links resolved), what it is, and its identity (the same for every path that
// reaches it, so that a walk can tell a folder it is in already).
struct ResolvedPath {
  std::string Path;
  EntryKind Kind = EntryKind::Missing;  // File, Folder or Other
  uint64_t Volume = 0, Index = 0;       // device and inode; volume serial and file index
};
// False when the path leads nowhere (a dangling link) or cannot be asked.
bool ResolvePath(const std::string &utf8Path, ResolvedPath *resolved);

// What a link says it leads to, for messages: its text on Linux, where it
// leads on Windows; empty when that cannot be told.
std::string LinkText(const std::string &utf8Path);

// A folder held open while files are put into it. On Linux a descriptor that
// the opens below it are relative to; on Windows a handle that keeps the folder
// from being renamed or removed meanwhile, with the path that names it.
class Folder {
 public:
  Folder() = default;
  Folder(Folder &&other) noexcept;
  Folder &operator=(Folder &&other) noexcept;
  ~Folder();

  // Opens the folder at utf8Path (empty: the current folder), after creating it
  // and its parents when `create`. Links on the way are followed: the user named
  // it. False when it cannot be opened; SystemErrorText says why.
  bool Open(const std::string &utf8Path, bool create);

  // Opens the subfolder `name` (one path component) into *child, making it when
  // missing, and never through a link: returns Folder when *child is open,
  // otherwise what stands in the way (a Link, a File, Other), or Missing when it
  // could neither be made nor opened (SystemErrorText says why). Whatever is
  // found, nothing outside this folder is touched.
  EntryKind Enter(const std::string &name, Folder *child) const;

  // What `name` in this folder is, not following a link.
  EntryKind Kind(const std::string &name) const;

 private:
  friend class StagedFile;
#ifdef _WIN32
  void *handle_ = nullptr;  // open on the folder without delete sharing; null when closed
  std::wstring path_;       // the folder's path, that names below it are joined to
#else
  int fd_ = -1;  // open on the folder; -1 when closed
#endif
};

// A file written under a fresh unpredictable name of its own in `folder`, made
// exclusively (nothing already there is opened, a planted link neither), that
// takes the place of `name` there only through Commit(). Without Commit() the
// destructor removes it: whatever `name` was stays as it was.
class StagedFile {
 public:
  // InputError naming `shown` (what the user knows the file as) when no
  // temporary file can be made. `folder` must outlive this object.
  StagedFile(const Folder &folder, const std::string &name, const std::string &shown);
  ~StagedFile();
  StagedFile(const StagedFile &) = delete;
  StagedFile &operator=(const StagedFile &) = delete;

  std::FILE *Stream() const { return file_; }

  // Flushes and closes the file, gives it `*seconds` (Unix time) as its
  // last-write time when that is set, and renames it to `name`, replacing a
  // file of that name (a link there is replaced, not followed). InputError
  // naming `shown` when any of it fails; the temporary file is then removed.
  void Commit(const int64_t *seconds);

 private:
  // The system's part; each false when it fails (SystemErrorText says why).
  bool CreateTemporary();  // makes temp_ exclusively, opens file_ on it
  bool RenameTemporary();  // temp_ to name_, in place of what was there
  void RemoveTemporary();  // when temp_ is set; then forgets it
  static void SetModTime(std::FILE *file, int64_t seconds);

  const Folder &folder_;        // where both names live
  std::string name_;            // the final name in folder_
  std::string shown_;           // the name errors give
  std::string temp_;            // the temporary name in folder_; empty once renamed or removed
  std::FILE *file_ = nullptr;   // open on temp_ until Commit or destruction
};

// UTF-8 to the ANSI code page the stub shows names and texts in (Windows-1252 on
// Linux, the system's own on Windows). *lossless is false when a character has no
// place in it; the result then is unusable.
std::string Utf8ToAnsi(const std::string &utf8, bool *lossless);
// A stored member name to UTF-8: UTF-8 when flagged so, the OEM code page for
// names from MS-DOS-like hosts, the ANSI code page otherwise.
std::string NameToUtf8(const std::string &raw, bool utf8Flag, bool oem);

// Broken-down time of a Unix time, in UTC or the local time zone; false when the
// system cannot represent it.
bool BreakDownTime(int64_t seconds, bool utc, std::tm *out);

#endif
