// The command table of the `cardwright` program as data: each command's usage, description,
// subcommands, options (with their values, the defaults the program really uses and the
// subcommands they apply to), the options that exclude each other, and its exit statuses.
// The argument parser, every --help text, the bash completion and the man page are all made
// from it, so that they cannot disagree with each other or with the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cw::app {

// The option every command takes: the catalogue its session opens.
inline constexpr const char* kCatalogueOption = "catalogue";

struct OptionSpec {
  const char* name;          // without the leading "--"
  const char* value;         // placeholder of the value ("DIR"); null for a switch
  const char* help;          // what it does and its default; "\n" starts a new line
  bool repeatable = false;   // may be given more than once, each value kept
  const char* complete = nullptr;     // completion of the value: "dir", "file" or words
  const char* subcommands = nullptr;  // the subcommands it applies to (spaces); null: all
};

struct SubcommandSpec {
  const char* name;
  const char* args;              // what follows the name: "KIND [NAME]"
  const char* help;
  const char* complete = nullptr;  // completion of the first argument: words, "dir", "file"
};

class Args;
struct CommandSpec;
using CommandRun = int (*)(const CommandSpec& spec, Args& args);

struct CommandSpec {
  const char* name;
  const char* summary;             // one line for 'cardwright --help'
  std::vector<const char*> usage;  // synopsis lines, after "cardwright NAME "
  const char* description;         // paragraph(s) after the synopsis
  std::vector<SubcommandSpec> subcommands;
  std::vector<OptionSpec> options;
  std::vector<std::pair<const char*, const char*>> conflicts;  // options that exclude each other
  const char* exit_status;         // null: 0 success, 1 failure, 2 bad usage
  CommandRun run;
  bool raw = false;  // the arguments are taken as they are (only a lone --help is seen)
};

// The arguments of one command line, split into words and options.
class Args {
 public:
  std::vector<std::string> words;  // the arguments that are not options, in order

  bool has(std::string_view option) const;
  // The value of an option given once; none when it was not given.
  std::optional<std::string> value(std::string_view option) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> values(std::string_view option) const;
  // Each option as given: name (without "--") and value (empty for a switch).
  std::vector<std::pair<std::string, std::string>> given;
};

// Every command, in the order 'cardwright --help' lists them.
const std::vector<const CommandSpec*>& command_table();
// The command of that name, or null.
const CommandSpec* find_command(std::string_view name);

// Splits `argv` by the command's table: -1 when the command is to run, 0 after printing its
// help (for --help or -h anywhere), 2 after a usage error naming the option and the value
// (unknown or misspelt option or subcommand, missing value, a repeated option, options that
// exclude each other, an option for another subcommand).
int parse_command_line(const CommandSpec& spec, int argc, char** argv, Args& args);

// Prints the command's --help from its table.
void print_command_help(const CommandSpec& spec);

// A usage error: "cardwright COMMAND: MESSAGE" and the hint to --help on stderr; returns 2.
int usage_error(const char* command, const std::string& message);
// A value that does not fit its option: "cardwright COMMAND: --OPTION 'VALUE': EXPECTED".
int bad_value(const char* command, const char* option, const std::string& value,
              const std::string& expected);
// A failure that is not bad usage: "cardwright COMMAND: MESSAGE" on stderr; returns 1.
int failure(const char* command, const std::string& message);

// Help text for an option that overrides a master-preset key: `text`, then the default the
// program uses, taken from the key table: "(default: the master preset's KEY; VALUES)".
const char* preset_default_help(const char* text, const char* key);

// The bash completion script and the man page, generated from the table.
std::string bash_completion_script();
std::string man_page(const std::string& version);

}  // namespace cw::app
