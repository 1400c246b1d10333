// sfxmake.cpp -- entry point: picks the subcommand and maps failures to exit codes.
#include <iostream>

#include "commands.h"
#include "errors.h"

namespace {

const char Usage[] =
    "usage: sfxmake COMMAND [options] ...\n"
    "\n"
    "Builds and inspects self-extracting ZIP programs for Windows.\n"
    "\n"
    "commands:\n"
    "  build    join a stub, a configuration and an archive into OUT.exe\n"
    "\n"
    "'sfxmake COMMAND --help' describes a command. Exit codes: 0 success,\n"
    "1 verification failed, 2 usage or input error.\n";

struct Command {
  const char *Name;
  int (*Run)(const Args &);
};
const Command Commands[] = {{"build", BuildCommand}};

}  // namespace

int main(int argc, char **argv) {
  Args args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << Usage;
    return args.empty() ? ExitUsage : ExitOk;
  }
  for (const Command &c : Commands) {
    if (args[0] != c.Name) continue;
    try {
      return c.Run(Args(args.begin() + 1, args.end()));
    } catch (const VerifyError &e) {
      std::cerr << "sfxmake " << c.Name << ": " << e.what() << "\n";
      return ExitVerifyFailed;
    } catch (const InputError &e) {
      std::cerr << "sfxmake " << c.Name << ": " << e.what() << "\n";
      return ExitUsage;
    }
  }
  std::cerr << "sfxmake: unknown command '" << args[0] << "' (see sfxmake --help)\n";
  return ExitUsage;
}
