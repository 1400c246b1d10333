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

std::filesystem::path PathFromUtf8(const std::string &utf8);
std::string PathToUtf8(const std::filesystem::path &path);
std::FILE *OpenFile(const std::string &utf8Path, const char *mode);

// Moves the file's position `count` bytes on, past its end too (what is written
// there later leaves zeros between); false when the system refuses.
bool SeekForward(std::FILE *file, uint64_t count);

// Fills the buffer from the operating system's random source; false when it fails.
bool RandomBytes(uint8_t *buffer, size_t count);

bool StderrIsTerminal();

// Last-write time in seconds since 1970 (UTC); false when the file cannot be asked.
bool FileModTime(const std::string &utf8Path, int64_t *seconds);
void SetFileModTime(const std::string &utf8Path, int64_t seconds);

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
