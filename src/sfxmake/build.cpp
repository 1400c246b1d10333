// build.cpp -- `sfxmake build`: stub + configuration block + archive in one file; the
// stubs sfxmake carries inside itself, and how a stub file is recognised as ours.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "cli.h"
#include "collect.h"
#include "compressor.h"
#include "config.h"
#include "coreglue.h"
#include "errors.h"
#include "files.h"
#include "platform.h"
#include "publisher.h"
#include "resources.h"
#include "sfxcore.h"
#include "sfxfile.h"
#include "summary.h"
#include "utf8.h"
#include "ziparchive.h"
#include "zipcopy.h"
#include "zipwriter.h"

// Generated at build time from the built stubs (embed-stubs.cmake).
extern const unsigned char EmbeddedStub32[];
extern const unsigned long EmbeddedStub32Size;
extern const unsigned char EmbeddedStub64[];
extern const unsigned long EmbeddedStub64Size;

namespace {

const char BuildUsage[] =
    "usage: sfxmake build [options] -o OUT.exe INPUT\n"
    "\n"
    "Makes a self-extracting program from INPUT, a ZIP archive or a folder.\n"
    "\n"
    "  -o, --output FILE        the program to write (required)\n"
    "      --stub 32|64|FILE    the embedded 32-bit (default) or 64-bit stub, or a stub file\n"
    "\n"
    "What the program shows and does:\n"
    "      --title TEXT         caption of its messages (default \"" CFG_DEFAULT_TITLE "\")\n"
    "      --folder TEXT        default target folder; empty: the folder the program starts in.\n"
    "                           Plain paths may hold %VARIABLES%. Forms starting with '$':\n"
    "                             $TEMP      a new private folder, named at random, in the\n"
    "                                        user's temporary folder\n"
    "                             $WINDIR    the Windows folder\n"
    "                             $SYSDIR    the system folder\n"
    "                                        (for these three only \"$T\", \"$W\", \"$S\" count,\n"
    "                                        the rest of the text is ignored)\n"
    "                             $HLM\\Key\\Path\\Value[+Suffix]\n"
    "                                        a folder read from the registry, Suffix appended;\n"
    "                                        roots $HLM ($LOCAL), $HCU ($CURUSER), $HU ($USERS)\n"
    "      --run TEXT           program and parameters started in the target folder after a\n"
    "                           complete unpack, e.g. \"setup.exe /quiet\"; what follows \"--\"\n"
    "                           on the finished program's command line is appended to them\n"
    "      --question TEXT      asked before anything else; No, Cancel or Abort ends quietly\n"
    "      --question-style S   buttons and icon of the question (default yes-no,question):\n"
    "                             buttons ok, ok-cancel, abort-retry-ignore, yes-no-cancel, yes-no, retry-cancel;\n"
    "                             icons error, question, warning, information; join with ',' (yes-no,question),\n"
    "                             or give the message box style as a number\n"
    "      --overwrite MODE     existing files: ask (default), skip or overwrite\n";

const char PublisherUsage[] =
    "\n"
    "How the program presents itself (written into the stub's resources):\n"
    "      --icon FILE.ico      the program's icon, every image of FILE.ico (BMP or PNG images\n"
    "                           up to 256x256); also shown in its dialogs\n"
    "      --product-name TEXT  a version resource with these texts, shown by Explorer's\n"
    "      --product-version V  file properties. V: 1 to 4 numbers from 0 to 65535 (\"2.1.0.7\"),\n"
    "      --file-version V     optionally followed by a suffix (\"2.1 beta\"); either version\n"
    "      --company TEXT       stands for the other when only one is given\n"
    "      --description TEXT\n"
    "      --copyright TEXT\n"
    "      --elevate            the manifest asks for administrator rights (requireAdministrator)\n"
    "                           instead of running as the invoking user\n";

const char InputUsage[] =
    "\n"
    "The archive:\n"
    "      --method M           how a folder input's files are compressed: lzma, deflate or store\n"
    "                           (default: lzma); a file is stored whenever that is smaller\n"
    "      --adjust-offsets     for a ZIP input: rewrite its offsets to count from the start\n"
    "                           of OUT (a folder input always gets such offsets)\n"
    "      --exclude PATTERN    leave out the members PATTERN matches (repeatable); applies to\n"
    "                           folder and ZIP inputs alike (a ZIP input keeps the rest as it is)\n"
    "      --include PATTERN    take in only the members PATTERN matches (repeatable), and the\n"
    "                           folders leading to them; --exclude wins. In a PATTERN, matched\n"
    "                           against the member's path with '/': '*' and '?' stay within a\n"
    "                           part, '**' spans parts, a trailing '/' names folders (and all\n"
    "                           below them); without another '/' it is looked for in every\n"
    "                           folder (*.pdb, .git/, Thumbs.db), with one it counts from the top\n"
    "      --links MODE         links in a folder input: follow (the default; a dangling link,\n"
    "                           or one leading back into a folder it lies in, is skipped), skip,\n"
    "                           or refuse (any link is an input error); each link followed or\n"
    "                           skipped is warned about, one leading outside INPUT says so\n"
    "      --password TEXT      encrypt a folder input with this password\n"
    "      --password-file FILE the password is the first line of FILE\n"
    "      --encryption E       aes256 (the default), aes128, or zipcrypto: the traditional\n"
    "                           scheme, for tools that know nothing else; it falls to a\n"
    "                           known-plaintext attack\n"
    "      --reproducible       same inputs, same bytes: times in UTC, clamped to\n"
    "                           SOURCE_DATE_EPOCH when it is set\n"
    "      --fixed-encryption-header\n"
    "                           with --reproducible and --password: derive the encryption\n"
    "                           headers from the password, names and data (a keyed hash)\n"
    "                           instead of the system's random source (shows which members\n"
    "                           are unchanged between builds; only for builds that must be\n"
    "                           identical)\n"
    "      --json               end with the summary as one JSON object instead of the line\n"
    "  -q, --quiet              no progress, no warnings, no summary line (--json still prints)\n"
    "  -h, --help               this text\n"
    "\n"
    "LZMA makes the smallest program; the stub, 7-Zip, Python's zipfile and WinZip\n"
    "open such an archive, some other ZIP tools do not: where every ZIP tool must open\n"
    "the program, choose --method deflate. Files of 4 GiB or more are stored as\n"
    "they are. Names use '/'; a name beyond ASCII is stored in UTF-8. ZIP64\n"
    "records are written only when the archive needs them (a file or the archive\n"
    "reaching 4 GiB, more than 65535 files). Refused, with nothing written: texts over\n"
    "255 bytes, names that are absolute or contain '..', names that are not UTF-8 or\n"
    "that Windows cannot create (< > : \" | ? * \\, control characters, a trailing dot\n"
    "or space), texts that are not UTF-8,\n"
    "inputs that are no ZIP archive, stubs that are not sfxkit stubs.\n";

std::vector<OptionSpec> BuildOptions() {
  std::vector<OptionSpec> specs = {{"output", 'o', true}, {"quiet", 'q', false}, {"help", 'h', false}};
  for (const char *name : {"stub", "title", "folder", "run", "question", "question-style", "overwrite", "options",
                           "password", "password-file", "encryption", "icon", "product-name", "product-version", "file-version",
                           "company", "description", "copyright"})
    specs.push_back({name, 0, true});
  for (const char *name : {"method", "exclude", "include", "links"}) specs.push_back({name, 0, true});
  specs.push_back({"jobs", 'j', true});
  for (const char *flag : {"adjust-offsets", "reproducible", "fixed-encryption-header", "elevate", "json", "solid"})
    specs.push_back({flag, 0, false});
  for (const OptionBit &o : OptionBits()) specs.push_back({o.Flag, 0, false});
  return specs;
}

void PrintBuildHelp() {
  std::cout << BuildUsage;
  for (const OptionBit &o : OptionBits()) {
    std::string flag = std::string("--") + o.Flag;
    flag.resize(21, ' ');
    std::cout << "      " << flag << o.Help << "\n";
  }
  std::cout << "      --options N          raw option bits, added to the flags above\n" << PublisherUsage;
  std::cout << InputUsage;
}

// The texts go in as UTF-8. Plain ASCII reads the same in every code page; any
// other text marks the block (OptUtf8Texts), so that the stub shows it the same
// on every system, whatever the build machine's locale.
SfxConfig ConfigFromArgs(const ParsedArgs &a) {
  SfxConfig c;
  if (a.Has("question-style")) c.MessageStyle = ParseMessageStyle(a.Get("question-style"));
  if (a.Has("overwrite")) c.OverwriteMode = ParseOverwriteMode(a.Get("overwrite"));
  uint32_t options = 0;
  if (a.Has("options") && !ParseNumber(a.Get("options"), 0xFFFF, &options))
    throw InputError("--options takes a number from 0 to 0xFFFF, not '" + a.Get("options") + "'");
  for (const OptionBit &o : OptionBits())
    if (a.Has(o.Flag)) options |= o.Bit;
  for (auto [text, option] : {std::pair{&c.Title, "title"}, {&c.Folder, "folder"}, {&c.Run, "run"}, {&c.Question, "question"}}) {
    *text = a.Get(option);
    RequireUtf8(*text, option);
    if (std::any_of(text->begin(), text->end(), [](char ch) { return (uint8_t)ch >= 0x80; })) options |= OptUtf8Texts;
  }
  // Waiting for the whole tree and cleaning up both wait for the program first
  // (cleaning up under a running program would pull its files away). The
  // clean-up of a wait in a $TEMP folder is not set here: the stub implies it
  // only where the run really unpacked into its private folder (not where /d
  // moved it), and the bit means a clean-up stated for any folder.
  if (options & (OptWaitForAll | OptCleanUp)) options |= OptWaitForRun;
  if ((options & OptWaitForRun) && c.Run.empty()) throw InputError("--wait, --wait-all and --cleanup need --run");
  c.Options = (uint16_t)options;
  return c;
}

PublisherOptions PublisherFromArgs(const ParsedArgs &a) {
  PublisherOptions p;
  for (auto [text, option] : {std::pair{&p.IconFile, "icon"}, {&p.ProductName, "product-name"},
                              {&p.ProductVersion, "product-version"}, {&p.FileVersion, "file-version"},
                              {&p.Company, "company"}, {&p.Description, "description"}, {&p.Copyright, "copyright"}})
    *text = a.Get(option);
  p.Elevate = a.Has("elevate");
  if (a.Has("icon") && p.IconFile.empty()) throw InputError("--icon needs a .ico file");
  return p;
}

FolderArchiveOptions FolderOptionsFromArgs(const ParsedArgs &a) {
  FolderArchiveOptions o;
  o.Solid = a.Has("solid");
  if (o.Solid && a.Has("method")) throw InputError("--solid compresses with LZMA2; it takes no --method");
  o.Method = a.Has("method") ? ParseMethod(a.Get("method")) : (uint16_t)MethodLzma;
  o.Password = PasswordFromArgs(a);
  o.Reproducible = a.Has("reproducible");
  o.FixedEncryptionHeader = a.Has("fixed-encryption-header");
  if (a.Has("encryption")) {
    std::string e = a.Get("encryption");
    if (e != "aes256" && e != "aes128" && e != "zipcrypto")
      throw InputError("--encryption takes aes256, aes128 or zipcrypto, not '" + e + "'");
    if (o.Password.empty()) throw InputError("--encryption goes only with a password");
    o.AesStrength = e == "aes256" ? 3 : e == "aes128" ? 1 : 0;
  }
  // AES members carry the password in UTF-8; the traditional scheme has no
  // encoding its readers agree on, so a character beyond ASCII would open the
  // program on some systems and not on others.
  if (!o.AesStrength && std::any_of(o.Password.begin(), o.Password.end(), [](char c) { return (uint8_t)c >= 0x80; }))
    throw InputError("--encryption zipcrypto takes an ASCII password only: its readers agree on no encoding for other "
                     "characters (AES takes any, in UTF-8)");
  o.Quiet = a.Has("quiet");
  o.Output = a.Get("output");
  uint32_t jobs = 0;
  if (a.Has("jobs") && (!ParseNumber(a.Get("jobs"), 1024, &jobs) || !jobs))
    throw InputError("--jobs takes a number from 1 to 1024, not '" + a.Get("jobs") + "'");
  o.Jobs = jobs;
  if (o.FixedEncryptionHeader && (o.Password.empty() || !o.Reproducible))
    throw InputError("--fixed-encryption-header goes only with --reproducible and a password");
  const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (o.Reproducible && epoch && *epoch) {
    char *end = nullptr;
    o.SourceDateEpoch = std::strtoll(epoch, &end, 10);
    if (*end || *o.SourceDateEpoch < 0) throw InputError("SOURCE_DATE_EPOCH is not a number of seconds");
  }
  return o;
}

enum : uint16_t { MachineI386 = 0x14C, MachineAmd64 = 0x8664, SubsystemGui = 2 };

// A text every build of the stub carries: it is the message of a damaged file.
const char StubMarker[] = "Cannot unzip: file is corrupt.";

// The image for --stub: "32" and "64" are the embedded stubs, anything else a
// file. InputError when the embedded stub is missing from this build or the
// file is not a bare sfxkit stub (a Windows GUI image for x86 or x64 that
// carries the stub's own messages and nothing behind its last section).
Bytes LoadStub(const std::string &choice) {
  if (choice == "32" || choice == "64") {
    bool wide = choice == "64";
    const unsigned char *image = wide ? EmbeddedStub64 : EmbeddedStub32;
    unsigned long size = wide ? EmbeddedStub64Size : EmbeddedStub32Size;
    if (!size) throw InputError("this sfxmake was built without the " + choice + "-bit stub; give --stub FILE");
    return Bytes(image, image + size);
  }
  Bytes stub = ReadWholeFile(choice);
  ImageLayout image = ReadImage(stub, choice);
  bool ours = (image.Machine == MachineI386 || image.Machine == MachineAmd64) && image.Subsystem == SubsystemGui &&
              std::search(stub.begin(), stub.end(), StubMarker, StubMarker + std::strlen(StubMarker)) != stub.end();
  if (!ours) throw InputError(choice + " is not an sfxkit stub");
  if (image.End != stub.size())
    throw InputError(choice + " carries data behind its image; give a bare stub, not a finished program");
  return stub;
}

// The archive to carry: a folder's files, to be written member by member, or a
// ZIP archive, to be copied in pieces. Settled before the output is created, so
// that a refusal writes nothing (and the output, should it lie in the folder, is
// left out).
struct ArchiveInput {
  bool Folder = false;                // a folder: Files; else a ZIP archive at Path
  std::vector<SourceFile> Files;      // the folder's files
  FolderArchiveOptions Options;       // how they are written
  std::string Path;                   // the ZIP archive
  ZipCopyPlan Copy;                   // what of it goes in, its offsets adjusted as asked
};

// --include and --exclude; InputError for an empty pattern.
MemberFilter FilterFromArgs(const ParsedArgs &a) {
  MemberFilter filter;
  for (auto [option, add] : {std::pair{"include", &MemberFilter::Include}, {"exclude", &MemberFilter::Exclude}})
    for (const std::string &pattern : a.GetAll(option)) {
      if (pattern.empty() || pattern == "/") throw InputError(std::string("--") + option + " needs a pattern");
      (filter.*add)(pattern);
    }
  return filter;
}

ArchiveInput ReadInput(const ParsedArgs &a, const std::string &input, uint64_t archiveStart) {
  ArchiveInput in;
  std::error_code ec;
  // Other ZIP tools cannot unpack solid members: the very thing --adjust-offsets is for.
  if (a.Has("solid") && a.Has("adjust-offsets"))
    throw InputError("--solid cannot go with --adjust-offsets: other ZIP tools cannot unpack solid members");
  MemberFilter filter = FilterFromArgs(a);
  if (std::filesystem::is_directory(PathFromUtf8(input), ec)) {
    if (a.Has("adjust-offsets")) throw InputError("--adjust-offsets is for ZIP inputs; a folder's offsets are adjusted anyway");
    in.Folder = true;
    in.Options = FolderOptionsFromArgs(a);
    CollectOptions collect{in.Options.Output, filter, ParseLinkPolicy(a.Get("links", "follow"))};
    FolderListing listing = CollectFiles(input, collect);
    if (!in.Options.Quiet)
      for (const std::string &warning : listing.Warnings) std::cerr << "sfxmake build: " << warning << "\n";
    in.Files = std::move(listing.Files);
    return in;
  }
  if (a.Has("password") || a.Has("password-file") || a.Has("fixed-encryption-header") || a.Has("encryption"))
    throw InputError("--password encrypts a folder input; a ZIP archive is carried with its own encryption");
  if (a.Has("method") || a.Has("solid"))
    throw InputError("--method and --solid are for folder inputs; a ZIP archive keeps its members as they are");
  if (a.Has("links")) throw InputError("--links is for folder inputs; a ZIP archive's members are carried as they are");
  // Its directory is read through a mapping: only the records cost memory.
  std::FILE *file = OpenFile(input, "rb");
  if (!file) throw InputError("cannot open " + input + ": " + std::strerror(errno));
  uintmax_t size = std::filesystem::file_size(PathFromUtf8(input), ec);
  MappedFile map;
  bool mapped = !ec && size && map.Map(file, size);
  std::fclose(file);
  if (!ec && size && !mapped) throw InputError("cannot read " + input + ": " + SystemErrorText());
  ByteView archive(map.Data(), map.Size());
  ZipDirectory dir = ReadZipDirectory(archive, 0, input);
  in.Copy = PlanZipCopy(archive, dir, filter, a.Has("adjust-offsets") ? archiveStart : 0, input);
  in.Path = input;
  return in;
}

// Copies the ZIP archive of `in` to `out` as planned, in pieces.
void CopyArchive(const ArchiveInput &in, OutputFile &out) {
  uint64_t start = out.Position();
  std::FILE *file = OpenFile(in.Path, "rb");
  if (!file) throw InputError("cannot open " + in.Path + ": " + std::strerror(errno));
  Bytes piece((size_t)1 << 20);
  bool failed = false;
  for (const ZipCopyPlan::Piece &p : in.Copy.Pieces) {
    failed = failed || !SeekTo(file, p.At);
    for (uint64_t left = p.Size; !failed && left;) {
      size_t n = std::fread(piece.data(), 1, (size_t)std::min<uint64_t>(piece.size(), left), file);
      failed = n == 0;
      out.Write(piece.data(), n);
      left -= n;
    }
  }
  failed = failed || std::ferror(file) != 0;
  std::fclose(file);
  if (failed) throw InputError("cannot read " + in.Path);
  out.Write(in.Copy.Tail);
  for (const OffsetPatch &p : in.Copy.Patches) {
    uint8_t field[8];
    PutLE64(field, p.Value);
    out.WriteAt(start + p.At, field, p.Width);
  }
}

// Reads the finished program back as the stub will: this also catches a stray
// end-record signature that would make the stub take a wrong directory. The file
// is looked at through a mapping: only the records read cost memory. Then every
// member in `encoded` is decoded again by the core, as the stub will (with the
// password), and its CRC-32 compared with the file's: an encoder fault never
// ships. InternalError naming the member when one differs. Returns what went
// in, as the finished program's directory counts it.
TreeCounts CheckWrittenArchive(OutputFile &out, uint64_t archiveStart, const std::string &input, const std::string &output,
                               const std::vector<EncodedMember> &encoded, const std::string &password) {
  MappedFile map;
  if (!map.Map(out.Settled(), out.Position())) throw InputError("cannot read back " + output + ": " + SystemErrorText());
  ByteView program(map.Data(), map.Size());
  ZipDirectory dir = ReadZipDirectory(program, archiveStart, input);
  CheckArchiveForStub(program, dir, input);
  std::map<std::string, uint32_t> crcs;
  for (const EncodedMember &e : encoded) crcs[e.Name] = e.Crc;
  std::vector<const ZipMember *> list;
  for (const ZipMember &m : dir.Members)
    if (crcs.count(m.RawName)) list.push_back(&m);
  std::vector<std::string> passwords;
  if (!password.empty()) passwords.push_back(password);  // written in UTF-8, the one form needed
  auto check = [&](size_t i) {
    const ZipMember &m = *list[i];
    MemberResult r = DecodeMember(program, dir, m, passwords, nullptr);
    if (r == MemberResult::NoMemory) throw InputError("no memory to decode " + m.ShownName() + " again");
    if (r == MemberResult::Ok && ~EntryCrc != crcs.at(m.RawName)) r = MemberResult::CrcMismatch;
    if (r != MemberResult::Ok)
      throw InternalError("the LZMA member " + m.ShownName() + " does not decode back to its file (" +
                          DescribeResult(r) + "); nothing was written");
  };
  DecodeSideBySide(list, false, check, [](size_t) {});
  return CountTree(dir);
}

}  // namespace

int BuildCommand(const Args &args) {
  auto started = std::chrono::steady_clock::now();
  ParsedArgs a = ParseArgs(args, BuildOptions());
  if (a.Has("help")) {
    PrintBuildHelp();
    return ExitOk;
  }
  if (a.Operands.size() != 1) throw InputError("build takes exactly one INPUT, a ZIP archive or a folder (see --help)");
  if (!a.Has("output")) throw InputError("build needs -o OUT.exe");

  // Everything that can be checked before the output is created is: a refusal writes nothing.
  Bytes program = EncodeConfig(ConfigFromArgs(a));
  // The resources go in first: they change the image's length, and the block
  // must start where the finished image ends.
  Bytes stub = ApplyPublisher(LoadStub(a.Get("stub", "32")), PublisherFromArgs(a));
  // What info would refuse of the finished program is refused now.
  ReadPublisher(stub, "the stub");
  program.insert(program.begin(), stub.begin(), stub.end());
  uint64_t archiveStart = program.size();
  const std::string &input = a.Operands[0];
  ArchiveInput in = ReadInput(a, input, archiveStart);

  OutputFile out(a.Get("output"));
  out.Write(program);
  std::vector<EncodedMember> encoded;
  if (in.Folder) WriteFolderArchive(in.Files, in.Options, out, &encoded);
  else CopyArchive(in, out);
  BuildSummary summary{a.Get("output"),
                       CheckWrittenArchive(out, archiveStart, input, a.Get("output"), encoded, in.Options.Password),
                       out.Position()};
  // The checksum covers the whole file, as Windows computes it; a signing tool
  // later computes it again over the signed file.
  StampPeChecksum(out, program);
  out.Commit();
  summary.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (a.Has("json")) std::cout << SummaryJson(summary) << "\n";
  else if (!a.Has("quiet")) std::cout << SummaryLine(summary) << "\n";
  return ExitOk;
}
