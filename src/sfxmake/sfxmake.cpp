// sfxmake.cpp -- entry point: picks the subcommand and maps failures to exit codes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli.h"
#include "errors.h"
#include "platform.h"

namespace {

const char Usage[] =
    "usage: sfxmake COMMAND [options] ...\n"
    "\n"
    "Builds and inspects self-extracting ZIP programs for Windows.\n"
    "\n"
    "commands:\n"
    "  build    make OUT.exe from a stub, a configuration and a ZIP archive or a folder\n"
    "  info     show the configuration and the members of a finished program\n"
    "  test     decode every member and check its CRC-32 (for CI before a release)\n"
    "  extract  unpack a finished program into a folder\n"
    "\n"
    "'sfxmake COMMAND --help' describes a command, 'sfxmake --version' tells the\n"
    "version. Exit codes: 0 success, 1 verification failed, 2 usage or input error\n"
    "(also when the output cannot be written).\n";

struct Command {
  const char *Name;
  int (*Run)(const Args &);
};
const Command Commands[] = {
    {"build", BuildCommand}, {"info", InfoCommand}, {"test", TestCommand}, {"extract", ExtractCommand}};

// Runs the command line; the exit code.
int Run(const Args &args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << Usage;
    return args.empty() ? ExitUsage : ExitOk;
  }
  if (args[0] == "--version") {
    std::cout << "sfxmake " << SFXMAKE_VERSION << "\n";
    return ExitOk;
  }
  for (const Command &c : Commands) {
    if (args[0] != c.Name) continue;
    try {
      return c.Run(Args(args.begin() + 1, args.end()));
    } catch (const std::bad_alloc &) {
      std::cerr << "sfxmake " << c.Name << ": out of memory\n";
      return ExitUsage;
    } catch (const std::exception &e) {  // InputError and the file system's own errors
      std::cerr << "sfxmake " << c.Name << ": " << e.what() << "\n";
      return ExitUsage;
    }
  }
  std::cerr << "sfxmake: unknown command '" << args[0] << "' (see sfxmake --help)\n";
  return ExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  RestrictDllSearch();
  Args args = Utf8Arguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  int code = Run(args);
  // What was printed must have arrived: a listing cut short by a full disk or a
  // closed pipe is a failure, not a success.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::cout.fail()) {
    std::cerr << "sfxmake: cannot write the output: " << std::strerror(errno) << "\n";
    return ExitUsage;
  }
  return code;
}
