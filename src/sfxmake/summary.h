// summary.h -- what went into a program, counted from its directory: the line
// (or JSON object) `build` ends with, and the counts `info` shows.
#ifndef SFXKIT_SFXMAKE_SUMMARY_H
#define SFXKIT_SFXMAKE_SUMMARY_H

#include <cstdint>
#include <map>
#include <string>

#include "ziparchive.h"

// A member's method as info and the summary name it: stored, deflate, lzma, other, or folder.
const char *MemberMethod(const ZipMember &m);
// How its data is protected: none, ZipCrypto, or AES of its strength.
const char *MemberProtection(const ZipMember &m);

// The files and folders of the tree a directory unpacks to.
struct TreeCounts {
  uint64_t Files = 0;    // members that are no folders
  uint64_t Folders = 0;  // folder paths: those of folder entries and those above any member
  uint64_t Bytes = 0;    // the files' sizes
  std::map<std::string, uint64_t> Methods;     // files by method
  std::map<std::string, uint64_t> Protection;  // encrypted files by protection
};
TreeCounts CountTree(const ZipDirectory &dir);
// "4 files, 1 folder".
std::string TreeText(const TreeCounts &counts);

// What build says when it is done.
struct BuildSummary {
  std::string Output;        // the program, as the user named it
  TreeCounts Tree;
  uint64_t OutputBytes = 0;  // the program's size
  double Seconds = 0;        // from the start of the command
};
// "demo.exe: 4 files, 1 folder; 2.1 MiB into 612.4 KiB (29%); lzma (1 stored); not encrypted; 1.3 s"
std::string SummaryLine(const BuildSummary &s);
// The same as one JSON object on one line, sizes in bytes.
std::string SummaryJson(const BuildSummary &s);

#endif
