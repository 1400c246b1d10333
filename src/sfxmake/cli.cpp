// cli.cpp -- GNU-style command-line parsing shared by the subcommands.
#include "cli.h"

#include "errors.h"

ParsedArgs ParseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs) {
  ParsedArgs parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--") {
      parsed.Operands.insert(parsed.Operands.end(), args.begin() + (long)i + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      parsed.Operands.push_back(arg);
      continue;
    }
    const OptionSpec *spec = nullptr;
    std::string inlineValue;
    bool hasInline = false;
    if (arg[1] == '-') {
      size_t eq = arg.find('=');
      std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) inlineValue = arg.substr(eq + 1), hasInline = true;
      for (const OptionSpec &s : specs)
        if (s.Long == name) spec = &s;
    } else {
      for (const OptionSpec &s : specs)
        if (s.Short && s.Short == arg[1]) spec = &s;
      if (arg.size() > 2) inlineValue = arg.substr(2), hasInline = true;
    }
    std::string shown = arg.substr(0, arg.find('='));
    if (!spec) throw InputError("unknown option " + shown + " (see --help)");
    if (!spec->TakesValue) {
      if (hasInline) throw InputError("option --" + spec->Long + " takes no value");
      parsed.Options[spec->Long] = "";
    } else {
      if (!hasInline && i + 1 >= args.size()) throw InputError("option " + shown + " needs a value");
      parsed.Options[spec->Long] = hasInline ? inlineValue : args[++i];
    }
    parsed.Repeated.insert({spec->Long, parsed.Options[spec->Long]});
  }
  return parsed;
}
