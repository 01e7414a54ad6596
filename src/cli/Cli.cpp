#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>

#include "core/DebugLog.h"

namespace mirel::cli {

namespace {

using TCommand = int (*)(const TCliArgs&, TCliContext&);

struct TOptionDecl {
  const char* Name;
  // What the value stands for in help; null for a switch.
  const char* Value;
  const char* Help;
};

struct TPositionalDecl {
  const char* Name;
  const char* Help;
  bool Required;
  bool Many;
};

struct TCommandDecl {
  const char* Name;
  TCommand Run;
  const char* Summary;
  const char* Synopsis;
  std::vector<TPositionalDecl> Positionals;
  std::vector<TOptionDecl> Options;
  std::string Notes;
};

const char* const kFilterNotes =
    "FILTER: --mask MASK  --good  --from DATE --to DATE  --size [=|>|<]KB  --attr rhsa\n"
    "  MASK: names like \"*.jpg;*.png\" or a keyword; \"?\" stands for at most one character\n"
    "  DATE: YYYY-MM-DD [HH:MM[:SS]], local time; a day given alone counts whole\n"
    "  (recover takes the upper date as --until DATE, its --to being the destination)\n";

const char* const kExitStatuses =
    "Exit status: 0 everything complete; 1 usage error; 2 the source cannot be read,\n"
    "holds no FAT, exFAT or NTFS file system, or a fatal error; 3 the run finished but some\n"
    "files are incomplete, failed or not written, or data was delivered with gaps;\n"
    "130 stopped by the user (Ctrl+C, SIGTERM).\n";

const TPositionalDecl kSource = {
    "SOURCE",
    "a raw, split (first segment), E01, VHD/VHDX, VMDK or QCOW2 image, a block device, or IMAGE#N for partition N",
    true, false};

std::vector<TOptionDecl> FilterOptions(const char* upperDate) {
  std::vector<TOptionDecl> options = {
      {"--mask", "MASK", "only names that match MASK"},
      {"--good", nullptr, "only entries whose data is intact (condition 100%)"},
      {"--from", "DATE", "only entries created or modified on or after DATE"},
      {"--until", "DATE", "only entries created or modified on or before DATE"},
      {"--size", "[=|>|<]KB", "only files of this size in kilobytes"},
      {"--attr", "rhsa", "only entries with exactly these attributes"},
  };
  if (upperDate) options.push_back({upperDate, "DATE", "the same as --until"});
  return options;
}

// What every command that reads a source takes.
const std::vector<TOptionDecl> kSourceOptions = {
    {"--offset", "SECTORS", "the volume starts SECTORS 512-byte sectors into the source (no partition table read)"},
    {"--tz", "ZONE", "the time zone of FAT's local times and of shown dates, as Europe/Berlin or UTC (default: TZ)"},
};

std::vector<TOptionDecl> Join(std::vector<TOptionDecl> a, const std::vector<TOptionDecl>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<TCommandDecl>& Commands() {
  static const std::vector<TCommandDecl> commands = {
      {"list",
       CmdList,
       "List volumes: name, path, type, file system, label, serial, size, free.",
       "mirel list [SOURCE...]",
       {{"SOURCE", "image files or devices; without any, every block device", false, true}},
       kSourceOptions,
       ""},
      {"scan",
       CmdScan,
       "List the deleted files and folders found on a volume.",
       "mirel scan SOURCE [--all] [FILTER...] [--format table|json|csv|bodyfile] [--hash ALGS]",
       {kSource},
       Join(Join({{"--all", nullptr, "list live entries too"},
                  {"--format", "FORMAT", "table (the default), json, csv or bodyfile"},
                  {"--hash", "ALGS", "read every listed file for its md5, sha1 and/or sha256 (comma-separated)"}},
                 FilterOptions("--to")),
            kSourceOptions),
       kFilterNotes},
      {"recover",
       CmdRecover,
       "Write found files into a folder, keeping their tree.",
       "mirel recover SOURCE --to DIR [--all] [FILTER...] [--on-exists ask|overwrite|skip|rename]\n"
       "                     [--report FILE] [--hash ALGS] [--force] [PATH|@ADDRESS...]",
       {kSource,
        {"PATH",
         "files or folders to recover, from the volume root, or @ADDRESS as scan shows it; without "
         "any, all that pass the filter",
         false, true}},
       Join({{"--to", "DIR", "the destination folder"},
             {"--all", nullptr, "recover live entries too"},
             {"--on-exists", "POLICY", "ask, overwrite, skip or rename an existing destination file"},
             {"--report", "FILE", "write one JSON line per file considered to FILE"},
             {"--hash", "ALGS", "checksums of each file written: md5, sha1 and/or sha256 (comma-separated)"},
             {"--force", nullptr, "write even onto a file system mounted from the source"}},
            Join(FilterOptions(nullptr), kSourceOptions)),
       kFilterNotes},
      {"cat",
       CmdCat,
       "Write a found file's data to standard output.",
       "mirel cat SOURCE PATH|@ADDRESS [--stream NAME]",
       {kSource, {"PATH", "the file, from the volume root, or @ADDRESS as scan shows it", true, false}},
       Join({{"--stream", "NAME", "the named stream NAME instead of the main data"}}, kSourceOptions),
       ""},
      {"mount",
       CmdMount,
       "Serve the found files as a read-only file system until it is unmounted.",
       "mirel mount SOURCE MOUNTPOINT [--all] [FILTER...]",
       {kSource, {"MOUNTPOINT", "an empty folder to serve the files at", true, false}},
       Join(Join({{"--all", nullptr, "serve live entries too"}}, FilterOptions("--to")), kSourceOptions),
       std::string(kFilterNotes) +
           "Serves until the file system is unmounted (fusermount3 -u MOUNTPOINT), Ctrl+C or\n"
           "SIGTERM, then exits 0. A read of data that cannot be read fails with EIO; such files\n"
           "are named at the end and the exit status is 3, as when the scan read only a part.\n"},
      {"erase",
       CmdErase,
       "Wipe the free space of a mounted volume.",
       "mirel erase SOURCE|MOUNTPOINT [--yes]",
       {{"SOURCE", "the volume's device or image file, or where it is mounted", true, false}},
       {{"--yes", nullptr, "erase without asking"}},
       ""},
  };
  return commands;
}

const TCommandDecl* FindCommand(const std::string& name) {
  for (const TCommandDecl& c : Commands())
    if (name == c.Name) return &c;
  return nullptr;
}

const TOptionDecl* FindOption(const TCommandDecl& c, const std::string& name) {
  for (const TOptionDecl& o : c.Options)
    if (name == o.Name) return &o;
  return nullptr;
}

std::string CommandUsage(const TCommandDecl& c) {
  return std::string("usage: ") + c.Synopsis + "\n'mirel " + c.Name + " --help' tells more\n";
}

// Help shows our synopsis in place of the generated usage line.
class THelpFormatter : public CLI::Formatter {
public:
  std::string make_usage(const CLI::App* app, std::string) const override {
    const TCommandDecl* c = FindCommand(app->get_name());
    return c ? std::string("\nusage: ") + c->Synopsis + "\n" : "\n" + Usage();
  }
};

// What the parser lets pass: a switch given a value (--all=no), and an
// option whose value is missing while another option follows, which the
// parser would take as the value. Returns the message, or "".
std::string CheckValues(const TCommandDecl& c, const std::vector<std::string>& argv) {
  for (size_t i = 2; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a == "--") break;
    if (a.rfind("--", 0) != 0) continue;
    const size_t eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const TOptionDecl* o = FindOption(c, name);
    if (!o) continue;
    if (!o->Value) {
      if (eq != std::string::npos) return name + " takes no value";
      continue;
    }
    if (eq != std::string::npos) {
      if (eq + 1 == a.size()) return name + " needs a value: " + o->Value;
      continue;
    }
    if (i + 1 >= argv.size() || (argv[i + 1].size() > 1 && argv[i + 1][0] == '-'))
      return name + " needs a value: " + o->Value;
    ++i;
  }
  return {};
}

void Declare(CLI::App& sub, const TCommandDecl& c) {
  for (const TPositionalDecl& p : c.Positionals) {
    CLI::Option* o = sub.add_option(p.Name)->description(p.Help);
    if (p.Required) o->required();
    if (p.Many) o->expected(1, -1)->allow_extra_args()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  for (const TOptionDecl& option : c.Options) {
    // Every repeat is let through here and refused after parsing, with one
    // message for switches and values alike.
    if (option.Value)
      sub.add_option(option.Name)
          ->description(option.Help)
          ->type_name(option.Value)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    else
      sub.add_flag(option.Name)->description(option.Help);
  }
}

// The first option given more than once, as a message; "" when none was.
std::string RepeatedOption(const CLI::App& sub) {
  for (const CLI::Option* o : sub.get_options())
    if (!o->get_positional() && o->count() > 1) return o->get_name() + " is given more than once";
  return {};
}

// The parsed command as the commands take it.
TCliArgs Collect(const CLI::App& sub, const TCommandDecl& c) {
  TCliArgs args;
  args.Command = c.Name;
  for (const TPositionalDecl& p : c.Positionals)
    for (const std::string& v : sub.get_option(p.Name)->results()) args.Positional.push_back(v);
  for (const CLI::Option* o : sub.parse_order()) {
    if (o->get_positional()) continue;
    const TOptionDecl* option = FindOption(c, o->get_name());
    args.Options.emplace_back(o->get_name(), option && option->Value ? o->results().front() : std::string());
  }
  return args;
}

}  // namespace

bool TCliArgs::Has(const std::string& name) const {
  for (const auto& [k, v] : Options)
    if (k == name) return true;
  return false;
}

std::string TCliArgs::Value(const std::string& name, const std::string& fallback) const {
  for (const auto& [k, v] : Options)
    if (k == name) return v;
  return fallback;
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
  std::string s = "usage:\n";
  for (const TCommandDecl& c : Commands()) s += std::string("  ") + c.Synopsis + "\n";
  return s + "  mirel --version;  mirel COMMAND --help\n" + kFilterNotes;
}

int FinishOutput(TCliContext& ctx) {
  errno = 0;
  ctx.Out.flush();
  if (ctx.Out || errno == EPIPE) return exitOk;
  ctx.Err << "mirel: standard output: " << (errno ? std::strerror(errno) : "write error") << "\n";
  return exitIncomplete;
}

namespace {

int UsageError(TCliContext& ctx, const std::string& message, const TCommandDecl* command) {
  ctx.Err << "mirel: " << PrintableName(message) << "\n" << (command ? CommandUsage(*command) : Usage());
  return exitUsage;
}

// Checks and parses argv. Fills command and args and returns nothing when the
// command is to run; otherwise the status to end with, after help, the
// version or a usage error.
std::optional<int> Parse(const std::vector<std::string>& argv, TCliContext& ctx, const TCommandDecl*& command,
                         TCliArgs& args) {
  if (argv.size() < 2) {
    ctx.Err << Usage();
    return exitUsage;
  }
  command = FindCommand(argv[1]);
  if (!command && argv[1].rfind('-', 0) != 0) return UsageError(ctx, "unknown command '" + argv[1] + "'", nullptr);
  if (std::string error = command ? CheckValues(*command, argv) : ""; !error.empty())
    return UsageError(ctx, error, command);

  CLI::App app("mirel finds deleted files and folders on FAT and NTFS volumes and brings them back.", "mirel");
  app.formatter(std::make_shared<THelpFormatter>());
  app.footer(kExitStatuses);
  app.set_version_flag("--version", "mirel " MIREL_VERSION, "print the version and exit");
  app.require_subcommand(1);
  for (const TCommandDecl& c : Commands()) {
    CLI::App* sub = app.add_subcommand(c.Name, c.Summary);
    sub->footer(c.Notes + kExitStatuses);
    Declare(*sub, c);
  }
  std::vector<const char*> raw;
  raw.reserve(argv.size());
  for (const std::string& a : argv) raw.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(raw.size()), raw.data());
  } catch (const CLI::CallForHelp&) {
    ctx.Out << app.help();
    return exitOk;
  } catch (const CLI::CallForAllHelp&) {
    ctx.Out << app.help();
    return exitOk;
  } catch (const CLI::CallForVersion& e) {
    ctx.Out << e.what() << "\n";
    return exitOk;
  } catch (const CLI::ParseError& e) {
    return UsageError(ctx, e.what(), command);
  }
  const CLI::App& sub = *app.get_subcommands().at(0);
  command = FindCommand(sub.get_name());
  if (std::string error = RepeatedOption(sub); !error.empty()) return UsageError(ctx, error, command);
  args = Collect(sub, *command);
  return std::nullopt;
}

}  // namespace

namespace {

// Whether zone names a zone the C library knows: a name from the zone
// database, or a POSIX rule such as "CET-1CEST" (which holds a digit). Any
// other name would silently read as UTC.
bool KnownZone(const std::string& zone) {
  if (zone.empty() || zone.find("..") != std::string::npos || zone[0] == '/') return false;
  if (zone == "UTC" || zone.find_first_of("0123456789") != std::string::npos) return true;
  std::error_code ec;
  return std::filesystem::is_regular_file("/usr/share/zoneinfo/" + zone, ec);
}

// TZ for the length of one command, then what it was: tests run many
// commands in one process.
class TZoneGuard {
public:
  explicit TZoneGuard(const std::string& zone) {
    if (const char* old = std::getenv("TZ")) Old = old;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~TZoneGuard() {
    if (Old)
      ::setenv("TZ", Old->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  TZoneGuard(const TZoneGuard&) = delete;
  TZoneGuard& operator=(const TZoneGuard&) = delete;

private:
  std::optional<std::string> Old;
};

}  // namespace

int RunCli(const std::vector<std::string>& argv, TCliContext& ctx) {
  std::vector<std::string> given = argv;
  if (given.size() > 1 && given[1] == "help") given[1] = "--help";
  const TCommandDecl* command = nullptr;
  TCliArgs args;
  if (std::optional<int> status = Parse(given, ctx, command, args)) return *status;
  std::optional<TZoneGuard> zone;
  if (args.Has("--tz")) {
    if (!KnownZone(args.Value("--tz")))
      return UsageError(ctx, "unknown time zone '" + args.Value("--tz") + "'", command);
    zone.emplace(args.Value("--tz"));
  }
  if (ctx.StartDebugLog) InitDebugLog();

  const uint64_t logLines = DebugLogLineCount();
  const int status = command->Run(args, ctx);
  if (const uint64_t added = DebugLogLineCount() - logLines; added > 0)
    ctx.Err << "mirel: " << added << (added == 1 ? " line" : " lines") << " written to the debug log " << DebugLogPath()
            << "\n";
  return status;
}

}  // namespace mirel::cli
