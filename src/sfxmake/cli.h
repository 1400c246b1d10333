// cli.h -- the subcommands, and the GNU-style command-line parsing they share.
#ifndef SFXKIT_SFXMAKE_CLI_H
#define SFXKIT_SFXMAKE_CLI_H

#include <map>
#include <string>
#include <vector>

// One option a subcommand accepts.
struct OptionSpec {
  std::string Long;      // name without the leading "--"
  char Short;            // single-letter form, 0 for none
  bool TakesValue;       // --name VALUE / --name=VALUE / -x VALUE
};

// The parsed command line: options by long name (last one wins), operands in order.
struct ParsedArgs {
  std::map<std::string, std::string> Options;  // flags map to ""
  std::multimap<std::string, std::string> Repeated;  // every value of every option, in their order
  std::vector<std::string> Operands;
  bool Has(const std::string &name) const { return Options.count(name) != 0; }
  std::string Get(const std::string &name, const std::string &fallback = "") const {
    auto it = Options.find(name);
    return it == Options.end() ? fallback : it->second;
  }
  // Every value given to an option that may be repeated, in order.
  std::vector<std::string> GetAll(const std::string &name) const {
    std::vector<std::string> values;
    for (auto [it, end] = Repeated.equal_range(name); it != end; ++it) values.push_back(it->second);
    return values;
  }
};

// Parses args (without the program and subcommand names). "--" ends the options;
// options and operands may be mixed. InputError for an unknown option, a missing
// value or a value given to a flag.
ParsedArgs ParseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs);

// The subcommands; each takes its arguments (after the subcommand's name) and
// returns the exit code, throwing InputError on failure.
using Args = std::vector<std::string>;
int BuildCommand(const Args &args);
int InfoCommand(const Args &args);
int TestCommand(const Args &args);
int ExtractCommand(const Args &args);

#endif
