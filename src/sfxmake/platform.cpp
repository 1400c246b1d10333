// platform.cpp -- the few things sfxmake needs from the operating system.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "codepages.h"
#include "errors.h"
#include "files.h"
#include "hostcipher.h"
#include "utf8.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string &utf8) { return fs::u8path(utf8); }
std::string PathToUtf8(const fs::path &path) { return path.u8string(); }

namespace {
// A name nobody can foresee and plant something at beforehand (it is created
// exclusively as well). Of fixed length, and hidden where a leading dot hides.
bool TemporaryName(std::string *name) {
  uint8_t random[8];
  if (!RandomBytes(random, sizeof random)) return false;
  static const char hex[] = "0123456789abcdef";
  *name = ".sfxmake-";
  for (uint8_t b : random) *name += hex[b >> 4], *name += hex[b & 15];
  *name += ".tmp";
  return true;
}
}  // namespace

Folder::Folder(Folder &&other) noexcept { *this = std::move(other); }

StagedFile::StagedFile(const Folder &folder, const std::string &name, const std::string &shown)
    : folder_(folder), name_(name), shown_(shown) {
  if (!CreateTemporary()) throw InputError("cannot create " + shown + ": " + SystemErrorText());
}

StagedFile::~StagedFile() {
  if (file_) std::fclose(file_);
  RemoveTemporary();
}

void StagedFile::Commit(const int64_t *seconds) {
  bool written = std::fflush(file_) == 0;
  if (written && seconds) SetModTime(file_, *seconds);  // a time refused leaves the file as it is
  written = std::fclose(file_) == 0 && written;
  file_ = nullptr;
  if (!written || !RenameTemporary()) {
    std::string why = written ? SystemErrorText() : std::strerror(errno);
    RemoveTemporary();
    throw InputError("cannot write " + shown_ + ": " + why);
  }
  temp_.clear();
}

#ifdef _WIN32

namespace {
std::wstring Widen(const std::string &s, UINT codePage) {
  int n = MultiByteToWideChar(codePage, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(codePage, 0, s.data(), (int)s.size(), w.data(), n);
  return w;
}
std::string Narrow(const std::wstring &w, UINT codePage, bool *lossless) {
  BOOL usedDefault = FALSE;
  BOOL *flag = codePage == CP_UTF8 ? nullptr : &usedDefault;
  DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(codePage, flags, w.data(), (int)w.size(), nullptr, 0, nullptr, flag);
  std::string s(n, '\0');
  WideCharToMultiByte(codePage, flags, w.data(), (int)w.size(), s.data(), n, nullptr, flag);
  if (lossless) *lossless = !usedDefault;
  return s;
}

// `name` below the folder `folder`.
std::wstring Join(const std::wstring &folder, const std::string &name) {
  bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
  return folder + (separated ? L"" : L"\\") + Widen(name, CP_UTF8);
}

EntryKind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
  return attributes & FILE_ATTRIBUTE_DEVICE ? EntryKind::Other : EntryKind::File;
}

// A folder's handle: listing access without delete sharing, so that while it is
// held nobody can rename, remove or replace the folder (a rename needs delete
// access, which the missing sharing refuses); reading and writing inside stay
// open to everybody. `flags` adds FILE_FLAG_OPEN_REPARSE_POINT to open a link
// itself rather than what it points at.
HANDLE OpenFolderHandle(const std::wstring &path, DWORD flags) {
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// What the handle is open on; Missing when the system does not say.
EntryKind KindOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) ? KindOfAttributes(info.dwFileAttributes) : EntryKind::Missing;
}
}  // namespace

std::string SystemErrorText() {
  DWORD code = GetLastError();
  wchar_t *text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, (LPWSTR)&text, 0, nullptr);
  std::wstring w = n ? std::wstring(text, n) : L"system error " + std::to_wstring(code);
  LocalFree(text);
  while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L'.' || w.back() == L' ')) w.pop_back();
  return Narrow(w, CP_UTF8, nullptr);
}

Folder &Folder::operator=(Folder &&other) noexcept {
  if (this != &other) {
    if (handle_) CloseHandle(handle_);
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = nullptr;
  }
  return *this;
}

Folder::~Folder() {
  if (handle_) CloseHandle(handle_);
}

bool Folder::Open(const std::string &utf8Path, bool create) {
  fs::path path = PathFromUtf8(utf8Path.empty() ? "." : utf8Path);
  std::error_code ec;
  if (create) fs::create_directories(path, ec);  // a failure shows in the open that follows
  HANDLE h = OpenFolderHandle(path.wstring(), 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (KindOfHandle(h) != EntryKind::Folder) {
    CloseHandle(h);
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  *this = Folder();
  handle_ = h;
  path_ = path.wstring();
  return true;
}

// The name is opened as itself, a reparse point too, and what it is is asked of
// the open handle, so that nothing can be swapped in between the check and the
// use; the held handle then keeps the folder in place (OpenFolderHandle).
EntryKind Folder::Enter(const std::string &name, Folder *child) const {
  std::wstring path = Join(path_, name);
  for (bool made = false;; made = true) {
    HANDLE h = OpenFolderHandle(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h != INVALID_HANDLE_VALUE) {
      EntryKind kind = KindOfHandle(h);
      if (kind != EntryKind::Folder) {
        CloseHandle(h);
        return kind;
      }
      *child = Folder();
      child->handle_ = h;
      child->path_ = path;
      return kind;
    }
    DWORD error = GetLastError();
    if (made || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)) return EntryKind::Missing;
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return EntryKind::Missing;
  }
}

EntryKind Folder::Kind(const std::string &name) const {
  DWORD attributes = GetFileAttributesW(Join(path_, name).c_str());  // a link's own attributes
  return attributes == INVALID_FILE_ATTRIBUTES ? EntryKind::Missing : KindOfAttributes(attributes);
}

EntryKind PathKind(const std::string &utf8Path) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(PathFromUtf8(utf8Path).c_str(), &found);  // the name's own entry, with its reparse tag
  if (h == INVALID_HANDLE_VALUE) return EntryKind::Missing;
  FindClose(h);
  DWORD attributes = found.dwFileAttributes;
  bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
              (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
  return link ? EntryKind::Link : KindOfAttributes(attributes & ~(DWORD)FILE_ATTRIBUTE_REPARSE_POINT);
}

bool ResolvePath(const std::string &utf8Path, ResolvedPath *resolved) {
  HANDLE h = CreateFileW(PathFromUtf8(utf8Path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  wchar_t path[32768];
  DWORD n = GetFinalPathNameByHandleW(h, path, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  bool known = GetFileInformationByHandle(h, &info) && n && n < 32768;
  CloseHandle(h);
  if (!known) return false;
  std::wstring full(path, n);
  // Without the prefix that lifts the length limit: the form users know.
  if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) full = L"\\\\" + full.substr(8);
  else if (full.compare(0, 4, L"\\\\?\\") == 0) full = full.substr(4);
  resolved->Path = Narrow(full, CP_UTF8, nullptr);
  resolved->Kind = KindOfAttributes(info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_REPARSE_POINT);
  resolved->Volume = info.dwVolumeSerialNumber;
  resolved->Index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
  return true;
}

std::string LinkText(const std::string &utf8Path) {
  ResolvedPath target;
  return ResolvePath(utf8Path, &target) ? target.Path : "";
}

bool StagedFile::CreateTemporary() {
  std::string temp;
  if (!TemporaryName(&temp)) return false;
  HANDLE h =
      CreateFileW(Join(folder_.path_, temp).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  temp_ = temp;
  int fd = _open_osfhandle((intptr_t)h, _O_RDWR | _O_BINARY);
  file_ = fd < 0 ? nullptr : _fdopen(fd, "w+b");
  if (file_) return true;
  if (fd < 0) CloseHandle(h);
  else _close(fd);
  RemoveTemporary();
  return false;
}

// Replaces a link of that name itself, never what it points at.
bool StagedFile::RenameTemporary() {
  return MoveFileExW(Join(folder_.path_, temp_).c_str(), Join(folder_.path_, name_).c_str(), MOVEFILE_REPLACE_EXISTING);
}

void StagedFile::RemoveTemporary() {
  if (!temp_.empty()) DeleteFileW(Join(folder_.path_, temp_).c_str());
  temp_.clear();
}

bool SeekForward(std::FILE *file, uint64_t count) { return _fseeki64(file, (int64_t)count, SEEK_CUR) == 0; }
bool SeekTo(std::FILE *file, uint64_t at) { return _fseeki64(file, (int64_t)at, SEEK_SET) == 0; }

bool MappedFile::Map(std::FILE *file, uint64_t size) {
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(file));
  mapping_ = CreateFileMappingW(h, nullptr, PAGE_READONLY, (DWORD)(size >> 32), (DWORD)size, nullptr);
  view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, (SIZE_T)size) : nullptr;
  size_ = view_ ? (size_t)size : 0;
  return view_ != nullptr;
}

MappedFile::~MappedFile() {
  if (view_) UnmapViewOfFile(view_);
  if (mapping_) CloseHandle(mapping_);
}

void *AllocateBlock(size_t size) { return ::operator new(size); }
void ReleaseBlock(void *block, size_t) { ::operator delete(block); }

std::vector<std::string> Utf8Arguments(int, char **) {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Narrow(argv[i], CP_UTF8, nullptr));
  LocalFree(argv);
  return args;
}

std::FILE *OpenFile(const std::string &utf8Path, const char *mode) {
  return _wfopen(PathFromUtf8(utf8Path).c_str(), Widen(mode, CP_UTF8).c_str());
}

// bcrypt.dll through the cipher layer, which loads it from the system folder.
bool RandomBytes(uint8_t *buffer, size_t count) { return SystemRandom(buffer, (uint32_t)count); }

// Looked up at run time, as Windows 7 without its update lacks the function.
void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC set = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (set) ((decltype(&SetDefaultDllDirectories))(void *)set)(LOAD_LIBRARY_SEARCH_SYSTEM32);
  else SetDllDirectoryW(L"");  // at least the current folder out of the search
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

uint64_t PhysicalMemory() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 1ull << 30;
}

// FILETIME counts 100 ns steps from 1601; Unix time seconds from 1970.
const int64_t EpochDifference = 11644473600LL;

bool FileModTime(const std::string &utf8Path, int64_t *seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(PathFromUtf8(utf8Path).c_str(), GetFileExInfoStandard, &data)) return false;
  int64_t ticks = ((int64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
  *seconds = ticks / 10000000 - EpochDifference;
  return true;
}

void StagedFile::SetModTime(std::FILE *file, int64_t seconds) {
  int64_t ticks = (seconds + EpochDifference) * 10000000;
  FILETIME ft = {(DWORD)ticks, (DWORD)(ticks >> 32)};
  SetFileTime((HANDLE)_get_osfhandle(_fileno(file)), nullptr, nullptr, &ft);
}

std::string Utf8ToAnsi(const std::string &utf8, bool *lossless) {
  return Narrow(Widen(utf8, CP_UTF8), CP_ACP, lossless);
}

bool BreakDownTime(int64_t seconds, bool utc, std::tm *out) {
  __time64_t t = seconds;
  return (utc ? _gmtime64_s(out, &t) : _localtime64_s(out, &t)) == 0;
}

std::string NameToUtf8(const std::string &raw, bool utf8Flag, bool oem) {
  if (utf8Flag) return raw;
  return Narrow(Widen(raw, oem ? CP_OEMCP : CP_ACP), CP_UTF8, nullptr);
}

#else

namespace {
// What a stat result's mode says the name is.
EntryKind KindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return EntryKind::Link;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  return S_ISREG(mode) ? EntryKind::File : EntryKind::Other;
}

}  // namespace

void RestrictDllSearch() {}

std::vector<std::string> Utf8Arguments(int argc, char **argv) { return {argv, argv + argc}; }

bool SeekForward(std::FILE *file, uint64_t count) { return fseeko(file, (off_t)count, SEEK_CUR) == 0; }
bool SeekTo(std::FILE *file, uint64_t at) { return fseeko(file, (off_t)at, SEEK_SET) == 0; }

bool MappedFile::Map(std::FILE *file, uint64_t size) {
  void *view = mmap(nullptr, (size_t)size, PROT_READ, MAP_SHARED, fileno(file), 0);
  view_ = view == MAP_FAILED ? nullptr : view;
  size_ = view_ ? (size_t)size : 0;
  return view_ != nullptr;
}

MappedFile::~MappedFile() {
  if (view_) munmap(view_, size_);
}

enum : size_t { SystemBlockSize = (size_t)64 << 20 };

void *AllocateBlock(size_t size) {
  if (size < SystemBlockSize) return ::operator new(size);
  void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
  madvise(block, size, MADV_HUGEPAGE);  // a hint: without huge pages the block still serves
  return block;
}

void ReleaseBlock(void *block, size_t size) {
  if (size < SystemBlockSize) ::operator delete(block);
  else munmap(block, size);
}

std::FILE *OpenFile(const std::string &utf8Path, const char *mode) { return std::fopen(utf8Path.c_str(), mode); }

bool RandomBytes(uint8_t *buffer, size_t count) {
  while (count) {
    ssize_t n = getrandom(buffer, count, 0);
    if (n <= 0) return false;
    buffer += n;
    count -= (size_t)n;
  }
  return true;
}

bool StderrIsTerminal() { return isatty(2) != 0; }

uint64_t PhysicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? (uint64_t)pages * (uint64_t)size : 1ull << 30;
}

bool FileModTime(const std::string &utf8Path, int64_t *seconds) {
  struct stat st;
  if (stat(utf8Path.c_str(), &st) != 0) return false;
  *seconds = st.st_mtime;
  return true;
}

std::string SystemErrorText() { return std::strerror(errno); }

Folder &Folder::operator=(Folder &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Folder::~Folder() {
  if (fd_ >= 0) close(fd_);
}

bool Folder::Open(const std::string &utf8Path, bool create) {
  std::string path = utf8Path.empty() ? "." : utf8Path;
  std::error_code ec;
  if (create && (fs::create_directories(path, ec), ec)) {
    errno = ec.value();
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  *this = Folder();
  fd_ = fd;
  return true;
}

// Every open is relative to this folder's descriptor and refuses a link, so a
// link planted at any moment is found as what it is, never passed through.
EntryKind Folder::Enter(const std::string &name, Folder *child) const {
  for (bool made = false;; made = true) {
    int fd = openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      *child = Folder();
      child->fd_ = fd;
      return EntryKind::Folder;
    }
    if (errno == ELOOP || errno == ENOTDIR) {
      EntryKind kind = Kind(name);  // what it is, for the message; gone or changed meanwhile: Other
      return kind == EntryKind::Link || kind == EntryKind::File ? kind : EntryKind::Other;
    }
    if (errno != ENOENT || made) return EntryKind::Missing;
    if (mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return EntryKind::Missing;
  }
}

EntryKind Folder::Kind(const std::string &name) const {
  struct stat st;
  return fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? KindOfMode(st.st_mode) : EntryKind::Missing;
}

EntryKind PathKind(const std::string &utf8Path) {
  struct stat st;
  return lstat(utf8Path.c_str(), &st) == 0 ? KindOfMode(st.st_mode) : EntryKind::Missing;
}

bool ResolvePath(const std::string &utf8Path, ResolvedPath *resolved) {
  struct stat st;
  char *full = realpath(utf8Path.c_str(), nullptr);
  bool known = full && stat(full, &st) == 0;
  if (known) *resolved = {full, KindOfMode(st.st_mode), (uint64_t)st.st_dev, (uint64_t)st.st_ino};
  std::free(full);
  return known;
}

std::string LinkText(const std::string &utf8Path) {
  char text[4096];
  ssize_t n = readlink(utf8Path.c_str(), text, sizeof text);
  return n < 0 ? "" : std::string(text, (size_t)n);
}

bool StagedFile::CreateTemporary() {
  std::string temp;
  if (!TemporaryName(&temp)) return false;
  int fd = openat(folder_.fd_, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  temp_ = temp;
  file_ = fdopen(fd, "w+b");
  if (file_) return true;
  int error = errno;
  close(fd);
  RemoveTemporary();
  errno = error;
  return false;
}

// Replaces a link of that name itself, never what it points at.
bool StagedFile::RenameTemporary() { return renameat(folder_.fd_, temp_.c_str(), folder_.fd_, name_.c_str()) == 0; }

void StagedFile::RemoveTemporary() {
  if (!temp_.empty()) unlinkat(folder_.fd_, temp_.c_str(), 0);
  temp_.clear();
}

void StagedFile::SetModTime(std::FILE *file, int64_t seconds) {
  struct timespec times[2] = {{(time_t)seconds, 0}, {(time_t)seconds, 0}};
  futimens(fileno(file), times);
}

std::string Utf8ToAnsi(const std::string &utf8, bool *lossless) {
  std::string out;
  *lossless = EncodeCodePage(utf8, CodePage::Windows1252, &out);
  return out;
}

bool BreakDownTime(int64_t seconds, bool utc, std::tm *out) {
  time_t t = (time_t)seconds;
  return (utc ? gmtime_r(&t, out) : localtime_r(&t, out)) != nullptr;
}

std::string NameToUtf8(const std::string &raw, bool utf8Flag, bool) {
  // Names written on Linux are usually UTF-8 without saying so; take them as such.
  if (utf8Flag || IsUtf8(raw)) return raw;
  std::string out;
  for (unsigned char b : raw) {
    uint32_t c = b < 0x80 ? b : UpperHalf(CodePage::Windows1252, b);
    AppendUtf8(out, c ? c : '_');
  }
  return out;
}

#endif
