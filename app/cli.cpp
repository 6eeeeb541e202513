// The argument parser and the --help texts, made from the command table.
#include "app/cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "control/settings_access.h"

namespace cw::app {

namespace {

const OptionSpec* find_option(const CommandSpec& spec, std::string_view name) {
  for (const OptionSpec& o : spec.options)
    if (name == o.name) return &o;
  return nullptr;
}

bool listed(const char* list, std::string_view word) {
  if (!list) return true;
  const std::string_view all = list;
  for (std::size_t start = 0; start <= all.size();) {
    std::size_t end = all.find(' ', start);
    if (end == std::string_view::npos) end = all.size();
    if (all.substr(start, end - start) == word) return true;
    start = end + 1;
  }
  return false;
}

std::string dashed(std::string_view name) { return "--" + std::string(name); }

// The option part of an argument "--name" or "--name=value"; false when it is no option.
bool split_option(const std::string& arg, std::string& name, std::optional<std::string>& inline_value) {
  if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) return false;
  const std::size_t eq = arg.find('=');
  name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  if (eq != std::string::npos) inline_value = arg.substr(eq + 1);
  return true;
}

// Prints `text` with every line after the first indented to `indent`.
void print_indented(const char* text, int indent) {
  for (const char* p = text; *p; ++p) {
    std::fputc(*p, stdout);
    if (*p == '\n') std::printf("%*s", indent, "");
  }
  std::fputc('\n', stdout);
}

}  // namespace

bool Args::has(std::string_view option) const {
  for (const auto& g : given)
    if (g.first == option) return true;
  return false;
}

std::optional<std::string> Args::value(std::string_view option) const {
  for (const auto& g : given)
    if (g.first == option) return g.second;
  return std::nullopt;
}

std::vector<std::string> Args::values(std::string_view option) const {
  std::vector<std::string> out;
  for (const auto& g : given)
    if (g.first == option) out.push_back(g.second);
  return out;
}

const CommandSpec* find_command(std::string_view name) {
  for (const CommandSpec* c : command_table())
    if (name == c->name) return c;
  return nullptr;
}

int usage_error(const char* command, const std::string& message) {
  std::fprintf(stderr, "cardwright %s: %s\n", command, message.c_str());
  std::fprintf(stderr, "Try 'cardwright %s --help'.\n", command);
  return 2;
}

int bad_value(const char* command, const char* option, const std::string& value,
              const std::string& expected) {
  return usage_error(command, "--" + std::string(option) + " '" + value + "': " + expected);
}

int failure(const char* command, const std::string& message) {
  std::fprintf(stderr, "cardwright %s: %s\n", command, message.c_str());
  return 1;
}

const char* preset_default_help(const char* text, const char* key) {
  static std::deque<std::string> texts;  // kept for the life of the command table
  const PresetKey* k = find_preset_key(key);
  std::string help = std::string(text) + "\n(default: the master preset's " + key;
  if (k && k->type == KeyType::Integer) {
    help += ", " + std::to_string(k->int_default) + " in a new preset";
  } else if (k && k->text_default && *k->text_default) {
    help += ", \"";
    help += k->text_default;
    help += "\" in a new preset";
  } else if (k) {
    help += ", empty in a new preset";
  }
  texts.push_back(help + ")");
  return texts.back().c_str();
}

int parse_command_line(const CommandSpec& spec, int argc, char** argv, Args& args) {
  const char* cmd = spec.name;
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      if (!spec.raw || argc == 1) {
        print_command_help(spec);
        return 0;
      }
    }
  if (spec.raw) {
    args.words.assign(argv, argv + argc);
    return -1;
  }
  bool options_end = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string name;
    std::optional<std::string> value;
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      args.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "-y" && find_option(spec, "yes")) {
      name = "yes";
    } else if (!split_option(arg, name, value)) {
      return usage_error(cmd, "unknown option '" + arg + "'");
    }
    if (name == kCatalogueOption && !find_option(spec, name)) {
      // Every command takes it: the catalogue its session opens.
      if (!value) {
        if (i + 1 >= argc) return usage_error(cmd, "option '--catalogue' needs a value (URL)");
        value = argv[++i];
      }
      if (args.has(name)) return usage_error(cmd, "option '--catalogue' given twice; give it once");
      args.given.emplace_back(name, *value);
      continue;
    }
    const OptionSpec* o = find_option(spec, name);
    if (!o) {
      std::vector<std::string> names;
      for (const OptionSpec& known : spec.options) names.emplace_back(known.name);
      return usage_error(cmd, "unknown option '" + dashed(name) + "'" +
                                  did_you_mean(name, names, "--"));
    }
    if (!o->value && value) return usage_error(cmd, "option '" + dashed(name) + "' takes no value");
    if (o->value && !value) {
      if (i + 1 >= argc)
        return usage_error(cmd, "option '" + dashed(name) + "' needs a value (" + o->value + ")");
      value = argv[++i];
    }
    if (!o->repeatable)
      if (std::optional<std::string> before = args.value(name))
        return usage_error(cmd, "option '" + dashed(name) + "' given twice" +
                                    (o->value ? " ('" + *before + "', then '" + *value + "')" : "") +
                                    "; give it once");
    args.given.emplace_back(name, value.value_or(""));
  }
  for (const auto& [a, b] : spec.conflicts)
    if (args.has(a) && args.has(b))
      return usage_error(cmd, "'" + dashed(a) + "' and '" + dashed(b) + "' exclude each other; give one");
  if (!spec.subcommands.empty() && !args.words.empty()) {
    std::vector<std::string> names;
    for (const SubcommandSpec& sub : spec.subcommands) names.emplace_back(sub.name);
    if (std::find(names.begin(), names.end(), args.words[0]) == names.end())
      return usage_error(cmd, "unknown command '" + args.words[0] + "'" +
                                  did_you_mean(args.words[0], names));
  }
  if (!spec.subcommands.empty() && !args.words.empty())
    for (const auto& [name, unused] : args.given) {
      const OptionSpec* o = find_option(spec, name);
      if (o && !listed(o->subcommands, args.words[0]))
        return usage_error(cmd, "option '" + dashed(name) + "' does not go with '" + args.words[0] +
                                    "' (only with: " + o->subcommands + ")");
    }
  return -1;
}

void print_command_help(const CommandSpec& spec) {
  for (std::size_t i = 0; i < spec.usage.size(); ++i)
    std::printf("%s cardwright %s %s\n", i == 0 ? "Usage:" : "      ", spec.name, spec.usage[i]);
  if (spec.description) std::printf("%s\n", spec.description);
  if (!spec.subcommands.empty()) {
    std::printf("\nCommands:\n");
    for (const SubcommandSpec& s : spec.subcommands) {
      const std::string head = std::string(s.name) + (*s.args ? " " : "") + s.args;
      if (head.size() > 26)
        std::printf("  %s\n  %-26s ", head.c_str(), "");
      else
        std::printf("  %-26s ", head.c_str());
      print_indented(s.help, 29);
    }
  }
  std::printf("\nOptions:\n");
  for (const OptionSpec& o : spec.options) {
    const std::string head = dashed(o.name) + (o.value ? std::string(" ") + o.value : "");
    if (head.size() > 22)
      std::printf("  %s\n  %-22s ", head.c_str(), "");
    else
      std::printf("  %-22s ", head.c_str());
    print_indented(o.help, 25);
  }
  std::printf("  %-22s the catalogue for this run: a \"postgresql://user@host:port/dbname\"\n"
              "  %-22s server or a database file (default: the preference Catalogue, else\n"
              "  %-22s the embedded file)\n",
              "--catalogue URL", "", "");
  std::printf("  %-22s show this help\n", "--help");
  std::printf("\nExit status: %s\n",
              spec.exit_status ? spec.exit_status : "0 success, 1 failure, 2 bad usage.");
}

}  // namespace cw::app
