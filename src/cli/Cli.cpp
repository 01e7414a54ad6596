#include "cli/Cli.h"

#include <istream>
#include <map>
#include <ostream>
#include <set>

namespace mirel::cli {

namespace {

// Options that take a value; every other --option is a switch.
const std::set<std::string> kValueOptions = {"--format", "--to",   "--until",     "--mask",  "--from",
                                             "--size",   "--attr", "--on-exists", "--stream"};

using TCommand = int (*)(const TCliArgs&, TCliContext&);

const std::map<std::string, TCommand>& Commands() {
  static const std::map<std::string, TCommand> commands = {
      {"list", CmdList},
      {"scan", CmdScan},
      {"cat", CmdCat},
      {"recover", CmdRecover},
      {"erase", CmdErase},
  };
  return commands;
}

}  // namespace

bool TCliArgs::Has(const std::string& name) const {
  for (const auto& [k, v] : Options)
    if (k == name) return true;
  return false;
}

std::string TCliArgs::Value(const std::string& name, const std::string& fallback) const {
  std::string result = fallback;
  for (const auto& [k, v] : Options)
    if (k == name) result = v;
  return result;
}

char AskUser(TCliContext& ctx, const std::string& question) {
  if (!ctx.In || !ctx.InIsTerminal) return 0;
  ctx.Err << question << std::flush;
  std::string answer;
  if (!std::getline(*ctx.In, answer) || answer.empty()) return 0;
  char c = answer[0];
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Usage() {
  return "usage:\n"
         "  mirel list [SOURCE...]\n"
         "  mirel scan SOURCE [--all] [FILTER...] [--format table|json|csv|bodyfile]\n"
         "  mirel recover SOURCE --to DIR [--all] [FILTER...] [--on-exists ask|overwrite|skip|rename] [PATH...]\n"
         "  mirel cat SOURCE PATH [--stream NAME]\n"
         "  mirel erase SOURCE|MOUNTPOINT [--yes]\n"
         "FILTER: --mask MASK  --good  --from DATE --to DATE  --size [=|>|<]KB  --attr rhsa\n"
         "  MASK: names like \"*.jpg;*.png\" or a keyword; \"?\" stands for at most one character\n"
         "  DATE: YYYY-MM-DD [HH:MM[:SS]], local time; a day given alone counts whole\n"
         "  (recover takes the upper date as --until DATE, its --to being the destination)\n";
}

int RunCli(const std::vector<std::string>& argv, TCliContext& ctx) {
  if (argv.size() < 2 || argv[1] == "--help" || argv[1] == "-h" || argv[1] == "help") {
    (argv.size() < 2 ? ctx.Err : ctx.Out) << Usage();
    return argv.size() < 2 ? exitUsage : exitOk;
  }
  TCliArgs args;
  args.Command = argv[1];
  for (size_t i = 2; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a == "--") {
      for (++i; i < argv.size(); ++i) args.Positional.push_back(argv[i]);
      break;
    }
    if (a.size() > 2 && a.rfind("--", 0) == 0) {
      std::string name = a, value;
      if (auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      } else if (kValueOptions.count(name)) {
        if (i + 1 >= argv.size()) {
          ctx.Err << "mirel: " << name << " needs a value\n";
          return exitUsage;
        }
        value = argv[++i];
      }
      args.Options.emplace_back(name, value);
    } else {
      args.Positional.push_back(a);
    }
  }
  auto it = Commands().find(args.Command);
  if (it == Commands().end()) {
    ctx.Err << "mirel: unknown command '" << args.Command << "'\n" << Usage();
    return exitUsage;
  }
  return it->second(args, ctx);
}

}  // namespace mirel::cli
