// commands.h -- the subcommands; each takes its arguments (after the subcommand's
// name) and returns the exit code, throwing InputError on failure.
#ifndef SFXKIT_SFXMAKE_COMMANDS_H
#define SFXKIT_SFXMAKE_COMMANDS_H

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int BuildCommand(const Args &args);
int InfoCommand(const Args &args);
int TestCommand(const Args &args);
int ExtractCommand(const Args &args);

#endif
