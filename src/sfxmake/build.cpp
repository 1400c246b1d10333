// build.cpp -- `sfxmake build`: stub + configuration block + archive in one file.
#include <iostream>

#include "cli.h"
#include "commands.h"
#include "config.h"
#include "errors.h"
#include "files.h"
#include "peimage.h"

namespace {

const char BuildUsage[] =
    "usage: sfxmake build [options] -o OUT.exe ARCHIVE.zip\n"
    "\n"
    "Joins a stub, a configuration block and a ZIP archive into one self-extracting program.\n"
    "\n"
    "  -o, --output FILE        the program to write (required)\n"
    "      --stub FILE          the stub image to put in front\n"
    "      --title TEXT         caption of the dialog's messages\n"
    "      --folder TEXT        default target folder\n"
    "      --run TEXT           program and parameters to start after unzipping\n"
    "      --question TEXT      question asked before anything else; a No or Cancel ends\n"
    "      --question-style S   buttons and icon of the question (default yes-no,question):\n";

std::vector<OptionSpec> BuildOptions() {
  std::vector<OptionSpec> specs = {
      {"output", 'o', true}, {"stub", 0, true},     {"title", 0, true},
      {"folder", 0, true},   {"run", 0, true},      {"question", 0, true},
      {"question-style", 0, true}, {"overwrite", 0, true}, {"options", 0, true},
      {"help", 'h', false},
  };
  for (const OptionBit &o : OptionBits()) specs.push_back({o.Flag, 0, false});
  return specs;
}

void PrintBuildHelp() {
  std::cout << BuildUsage;
  std::string styles = MessageStyleHelp();
  for (size_t start = 0; start < styles.size();) {
    size_t end = styles.find('\n', start);
    if (end == std::string::npos) end = styles.size();
    std::cout << "                           " << styles.substr(start, end - start) << "\n";
    start = end + 1;
  }
  std::cout << "      --overwrite MODE     existing files: ask (default), skip or overwrite\n";
  for (const OptionBit &o : OptionBits()) {
    std::string flag = std::string("--") + o.Flag;
    flag.resize(21, ' ');
    std::cout << "      " << flag << o.Help << "\n";
  }
  std::cout << "      --options N          raw option bits, added to the flags above\n"
               "  -h, --help               this text\n";
}

uint32_t ParseRawOptions(const std::string &text) {
  char *end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end || text[0] == '-' || v > 0xFFFF)
    throw InputError("--options takes a number from 0 to 0xFFFF, not '" + text + "'");
  return (uint32_t)v;
}

SfxConfig ConfigFromArgs(const ParsedArgs &a) {
  SfxConfig c;
  c.Title = a.Get("title");
  c.Folder = a.Get("folder");
  c.Run = a.Get("run");
  c.Question = a.Get("question");
  if (a.Has("question-style")) c.MessageStyle = ParseMessageStyle(a.Get("question-style"));
  if (a.Has("overwrite")) c.OverwriteMode = ParseOverwriteMode(a.Get("overwrite"));
  uint32_t options = a.Has("options") ? ParseRawOptions(a.Get("options")) : 0;
  for (const OptionBit &o : OptionBits())
    if (a.Has(o.Flag)) options |= o.Bit;
  c.Options = (uint16_t)options;
  return c;
}

}  // namespace

int BuildCommand(const Args &args) {
  ParsedArgs a = ParseArgs(args, BuildOptions());
  if (a.Has("help")) {
    PrintBuildHelp();
    return ExitOk;
  }
  if (a.Operands.size() != 1) throw InputError("build takes exactly one ARCHIVE.zip (see sfxmake build --help)");
  if (!a.Has("output")) throw InputError("build needs -o OUT.exe");
  if (!a.Has("stub")) throw InputError("build needs --stub FILE");

  // Everything is checked before the output is created, so a refusal writes nothing.
  Bytes block = EncodeConfig(ConfigFromArgs(a));
  Bytes stub = ReadWholeFile(a.Get("stub"));
  ImageInfo image = ReadImageInfo(stub, a.Get("stub"));
  if (image.End != stub.size())
    throw InputError(a.Get("stub") + " carries data behind its image; give a bare stub, not a finished program");
  Bytes archive = ReadWholeFile(a.Operands[0]);

  OutputFile out(a.Get("output"));
  out.Write(stub);
  out.Write(block);
  out.Write(archive);
  out.Commit();
  return ExitOk;
}
