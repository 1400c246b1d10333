// verify.cpp -- `sfxmake test` and `sfxmake extract`: every member decoded with
// the project's own decoding core, CRC-32 checked, optionally written to a folder.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "cli.h"
#include "coreglue.h"
#include "errors.h"
#include "platform.h"
#include "progress.h"
#include "sfxfile.h"
#include "utf8.h"

namespace fs = std::filesystem;

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
    "DIR, or naming a device) fail and are not written.\n"
    "Existing files are replaced. A line per failed member and a summary; exit code 1\n"
    "when any member fails.\n"
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
  std::string password = PasswordFromArgs(a);
  bool quiet = a.Has("quiet"), verbose = a.Has("verbose");
  SfxFile s = OpenSfx(a.Operands[0]);
  CheckSomethingToUnpack(s.Directory, s.Path);
  fs::path root;
  if (extract) {
    root = PathFromUtf8(a.Get("directory"));
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) throw InputError("cannot create " + a.Get("directory") + ": " + ec.message());
  }

  uint64_t total = 0, files = 0, failed = 0;
  for (const ZipMember &m : s.Directory.Members) total += m.UncompressedSize, files += !m.IsFolder;
  Progress progress(extract ? "extracting" : "testing", files, total, quiet);
  for (const ZipMember &m : s.Directory.Members) {
    if (m.IsFolder) continue;
    std::string name = m.DisplayName();
    std::string outcome;
    try {
      if (m.Refusal != NameAccepted) throw InputError(std::string("refused: ") + RefusalText(m.Refusal));
      std::FILE *out = nullptr;
      fs::path target;
      if (extract) {
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        target = root / PathFromUtf8(relative);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        out = OpenFile(PathToUtf8(target), "wb");
        if (!out) throw InputError("cannot create " + PathToUtf8(target));
      }
      MemberResult r = DecodeMember(s, m, password, out);
      if (out && std::fclose(out) != 0 && r == MemberResult::Ok) r = MemberResult::WriteFailed;
      if (out && r == MemberResult::Ok) SetFileModTime(PathToUtf8(target), MemberTime(m));
      if (r != MemberResult::Ok) outcome = DescribeResult(r);
    } catch (const InputError &e) {
      outcome = e.what();
    }
    if (!outcome.empty()) {
      ++failed;
      std::cout << "FAIL " << m.ShownName() << ": " << Escape(outcome, Escaping::Plain) << "\n";
    } else if (verbose) {
      std::cout << "OK   " << m.ShownName() << "\n";
    }
    progress.Step(m.UncompressedSize);
  }
  std::cout << files << " member" << (files == 1 ? "" : "s") << (extract ? " extracted" : " tested") << ", "
            << failed << " failed\n";
  return failed ? ExitVerifyFailed : ExitOk;
}

}  // namespace

int TestCommand(const Args &args) { return CheckMembers(args, false); }
int ExtractCommand(const Args &args) { return CheckMembers(args, true); }
