// platform.cpp -- the few things sfxmake needs from the operating system.
#include "platform.h"

#include <new>

#include "files.h"
#include "utf8.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#include <io.h>
#include <shellapi.h>
#else
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string &utf8) { return fs::u8path(utf8); }
std::string PathToUtf8(const fs::path &path) { return path.u8string(); }

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
}  // namespace

bool SeekForward(std::FILE *file, uint64_t count) { return _fseeki64(file, (int64_t)count, SEEK_CUR) == 0; }

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

bool RandomBytes(uint8_t *buffer, size_t count) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, buffer, (ULONG)count, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// FILETIME counts 100 ns steps from 1601; Unix time seconds from 1970.
const int64_t EpochDifference = 11644473600LL;

bool FileModTime(const std::string &utf8Path, int64_t *seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(PathFromUtf8(utf8Path).c_str(), GetFileExInfoStandard, &data)) return false;
  int64_t ticks = ((int64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
  *seconds = ticks / 10000000 - EpochDifference;
  return true;
}

void SetFileModTime(const std::string &utf8Path, int64_t seconds) {
  HANDLE h = CreateFileW(PathFromUtf8(utf8Path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  int64_t ticks = (seconds + EpochDifference) * 10000000;
  FILETIME ft = {(DWORD)ticks, (DWORD)(ticks >> 32)};
  SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
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
// Windows-1252 at 0x80-0x9F; the rest of the upper half is Latin-1. 0 marks a hole.
const uint16_t Cp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char **argv) { return {argv, argv + argc}; }

bool SeekForward(std::FILE *file, uint64_t count) { return fseeko(file, (off_t)count, SEEK_CUR) == 0; }

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

bool FileModTime(const std::string &utf8Path, int64_t *seconds) {
  struct stat st;
  if (stat(utf8Path.c_str(), &st) != 0) return false;
  *seconds = st.st_mtime;
  return true;
}

void SetFileModTime(const std::string &utf8Path, int64_t seconds) {
  struct utimbuf times = {(time_t)seconds, (time_t)seconds};
  utime(utf8Path.c_str(), &times);
}

std::string Utf8ToAnsi(const std::string &utf8, bool *lossless) {
  std::string out;
  *lossless = true;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c;
    if (!NextCodePoint(utf8, &i, &c)) {
      *lossless = false;
      return out;
    }
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += (char)c;
      continue;
    }
    int found = -1;
    for (int k = 0; k < 32; ++k)
      if (Cp1252High[k] == c) found = k;
    if (found < 0) *lossless = false;
    out += (char)(found < 0 ? '_' : 0x80 + found);
  }
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
  for (unsigned char b : raw) AppendUtf8(out, b < 0x80 || b >= 0xA0 ? b : Cp1252High[b - 0x80] ? Cp1252High[b - 0x80] : '_');
  return out;
}

#endif
