// verify.cpp -- `sfxmake test` and `sfxmake extract`: every member decoded with
// the project's own decoding core, CRC-32 checked, optionally written to a folder.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "coreglue.h"
#include "errors.h"
#include "platform.h"
#include "progress.h"
#include "sfxfile.h"
#include "utf8.h"
#include "zipformat.h"

namespace {

const char TestUsage[] =
    "usage: sfxmake test [options] FILE.exe\n"
    "\n"
    "Decodes every member of a self-extracting program as its stub would and checks\n"
    "each CRC-32: a line per failed member and a summary. Exit code 1 when any member\n"
    "fails, 2 when the program is damaged or has nothing to unpack.\n"
    "\n";

const char ExtractUsage[] =
    "usage: sfxmake extract [options] FILE.exe -d DIR\n"
    "\n"
    "Unpacks a self-extracting program into DIR (created when missing), with folders\n"
    "and times, checking every CRC-32. Members whose names the stub refuses (leaving\n"
    "DIR, or naming a device) fail and are not written, and so do members that would\n"
    "pass through a link inside DIR or replace anything but a plain file.\n"
    "An existing file is replaced only by a sound member: each is written beside it\n"
    "first and takes its place once its CRC-32 is checked. A line per failed member\n"
    "and a summary; exit code 1 when any member fails.\n"
    "\n"
    "  -d, --directory DIR       where to unpack (required)\n";

// The options test and extract share, behind either text above.
const char VerifyOptionsUsage[] =
    "      --password TEXT       password of encrypted members\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "  -v, --verbose             a line for every member, also those that pass\n"
    "  -q, --quiet               no progress\n"
    "  -h, --help                this text\n";

const std::vector<OptionSpec> VerifyOptions = {
    {"password", 0, true}, {"password-file", 0, true}, {"quiet", 'q', false},
    {"help", 'h', false},  {"directory", 'd', true},  {"verbose", 'v', false},
};

// The stub's rule: an exact time from the extra field, else the DOS date and
// time as local time on that date.
int64_t MemberTime(const ZipMember &m) {
  if (m.ModifiedUtc) return (int64_t)(m.ModifiedUtc / 10000000) - 11644473600LL;
  uint16_t date = m.DosDate(), time = m.DosTime();
  std::tm tm{};
  tm.tm_year = 80 + (date >> 9);
  tm.tm_mon = ((date >> 5) & 15) - 1;
  tm.tm_mday = date & 31;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 63;
  tm.tm_sec = (time & 31) * 2;
  tm.tm_isdst = -1;
  return (int64_t)std::mktime(&tm);
}

// Why something found at `where` (a part of a member's name) keeps the member
// from being written there.
std::string InTheWay(const std::string &where, EntryKind kind, bool wantFolder) {
  switch (kind) {
    case EntryKind::Missing: return "cannot create " + where + ": " + SystemErrorText();
    case EntryKind::Link: return "refused: " + where + " is a link, which is not followed";
    case EntryKind::Folder: return "refused: " + where + " is a folder";
    case EntryKind::File: return "refused: " + where + " is a file, not a folder";
    default: return "refused: " + where + (wantFolder ? " is not a folder" : " is not a plain file");
  }
}

// Writes member `m`, its name `name` taken below `root`: each folder on the way
// is entered (made when missing) without passing through a link, and the file
// is written beside what has its name, taking its place only when sound.
// InputError when a folder cannot be entered or something else than a plain
// file has the name; otherwise what the decoding gave.
MemberResult ExtractMember(const SfxFile &s, const ZipMember &m, const std::vector<std::string> &passwords,
                           const Folder &root, const std::string &name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c != '/' && c != '\\') parts.back() += c;
    else if (!parts.back().empty()) parts.emplace_back();
  }
  std::vector<Folder> chain;  // every folder on the way stays open (on Windows that keeps it in place)
  chain.reserve(parts.size());
  const Folder *folder = &root;
  std::string walked;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    walked += (walked.empty() ? "" : "/") + parts[i];
    if (parts[i] == ".") continue;
    chain.emplace_back();
    EntryKind kind = folder->Enter(parts[i], &chain.back());
    if (kind != EntryKind::Folder) throw InputError(InTheWay(walked, kind, true));
    folder = &chain.back();
  }
  EntryKind kind = folder->Kind(parts.back());
  if (kind != EntryKind::Missing && kind != EntryKind::File) throw InputError(InTheWay(name, kind, false));
  StagedFile out(*folder, parts.back(), name);
  MemberResult r = DecodeMember(s, m, passwords, out.Stream());
  if (r == MemberResult::Ok) {
    int64_t seconds = MemberTime(m);
    out.Commit(&seconds);
  }
  return r;
}

// Runs over every file member, writing it below -d DIR when `extract` is set.
int CheckMembers(const Args &args, bool extract) {
  ParsedArgs a = ParseArgs(args, VerifyOptions);
  if (a.Has("help")) {
    std::cout << (extract ? ExtractUsage : TestUsage) << VerifyOptionsUsage;
    return ExitOk;
  }
  const char *command = extract ? "extract" : "test";
  if (a.Operands.size() != 1) throw InputError(std::string(command) + " takes exactly one FILE.exe (see --help)");
  if (extract != a.Has("directory")) throw InputError(extract ? "extract needs -d DIR" : "unknown option --directory");
  std::vector<std::string> passwords = PasswordForms(PasswordFromArgs(a));
  bool quiet = a.Has("quiet"), verbose = a.Has("verbose");
  SfxFile s = OpenSfx(a.Operands[0]);
  CheckSomethingToUnpack(s.Directory, s.Path);
  Folder root;
  if (extract && !root.Open(a.Get("directory"), true))
    throw InputError("cannot create " + a.Get("directory") + ": " + SystemErrorText());

  // Members are checked side by side, each on the thread that decodes it,
  // and reported in their order: the output is what one worker prints.
  PrepareCore();
  std::vector<const ZipMember *> list;
  uint64_t total = 0, failed = 0;
  std::set<std::string> names;
  bool sameName = false;  // two members of one name must be written in their order
  for (const ZipMember &m : s.Directory.Members) {
    if (m.IsFolder) continue;
    list.push_back(&m);
    total += m.UncompressedSize;
    std::string key = m.DisplayName();
    std::transform(key.begin(), key.end(), key.begin(), [](char c) { return (char)std::tolower((uint8_t)c); });
    sameName = !names.insert(key).second || sameName;
  }
  uint64_t files = list.size();
  Progress progress(extract ? "extracting" : "testing", files, total, quiet);
  std::vector<std::string> outcomes(list.size());
  auto check = [&](size_t i) {
    const ZipMember &m = *list[i];
    try {
      if (m.Refusal != NameAccepted) throw InputError(std::string("refused: ") + RefusalText(m.Refusal));
      MemberResult r = extract ? ExtractMember(s, m, passwords, root, m.DisplayName())
                               : DecodeMember(s, m, passwords, nullptr);
      if (r != MemberResult::Ok) outcomes[i] = DescribeResult(r);
    } catch (const InputError &e) {
      outcomes[i] = e.what();
      PassMember(s, m, passwords);
    }
    progress.Count(m.UncompressedSize);
  };
  auto take = [&](size_t i) {
    if (!outcomes[i].empty()) {
      ++failed;
      std::cout << "FAIL " << list[i]->ShownName() << ": " << Escape(outcomes[i], Escaping::Plain) << "\n";
    } else if (verbose) {
      std::cout << "OK   " << list[i]->ShownName() << "\n";
    }
    progress.Done();
  };
  DecodeSideBySide(list, extract && sameName, check, take);
  // A failed member was tested, but not extracted.
  uint64_t done = extract ? files - failed : files;
  std::cout << done << " member" << (done == 1 ? "" : "s") << (extract ? " extracted" : " tested") << ", " << failed
            << " failed\n";
  return failed ? ExitVerifyFailed : ExitOk;
}

}  // namespace

int TestCommand(const Args &args) { return CheckMembers(args, false); }
int ExtractCommand(const Args &args) { return CheckMembers(args, true); }
