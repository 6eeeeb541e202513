// The bash completion script and the man page, generated from the command table (and, for
// the man page's list of preset keys, from the preset key tables).
#include <cstdio>
#include <string>

#include "app/cli.h"
#include "app/commands.h"
#include "control/settings_access.h"

namespace cw::app {

namespace {

std::string words_of(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& w : list) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

// The bash code that completes a value described by `complete` ("dir", "file" or words).
std::string compgen_for(const char* complete) {
  const std::string c = complete ? complete : "file";
  if (c == "dir") return "COMPREPLY=($(compgen -d -- \"$cur\"))";
  if (c == "file") return "COMPREPLY=($(compgen -f -- \"$cur\"))";
  if (c == "none") return "COMPREPLY=()";
  return "COMPREPLY=($(compgen -W '" + c + "' -- \"$cur\"))";
}

// Text for roff: backslashes escaped, a leading dot or quote made harmless, dashes as dashes.
std::string roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    line_start = c == '\n';
  }
  return out;
}

// One argument of a roff macro: quoted, with its own quotes as \(dq.
std::string roff_arg(const std::string& text) {
  std::string out = "\"";
  for (char c : roff(text)) {
    if (c == '"')
      out += "\\(dq";
    else
      out += c;
  }
  return out + "\"";
}

void man_keys(std::string& s, const char* heading, const std::vector<const PresetKey*>& keys) {
  s += ".SS \"" + std::string(heading) + "\"\n";
  for (const PresetKey* key : keys)
    s += ".TP\n.B " + std::string(key->key) + "\n" + roff(key->meaning) + " (" +
         roff(key_values_text(*key)) + ")\n";
}

}  // namespace

std::string bash_completion_script() {
  std::vector<std::string> commands;
  for (const CommandSpec* c : command_table()) commands.emplace_back(c->name);
  std::string s =
      "# bash completion for cardwright (made by 'cardwright completion bash')\n"
      "_cardwright() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]-} prev=${COMP_WORDS[COMP_CWORD-1]-}\n"
      "  if [[ $COMP_CWORD -eq 1 ]]; then\n"
      "    COMPREPLY=($(compgen -W '" + words_of(commands) + " --help --version' -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  local opts='--help' subs='' sub=${COMP_WORDS[2]-}\n"
      "  case ${COMP_WORDS[1]} in\n";
  for (const CommandSpec* c : command_table()) {
    std::vector<std::string> opts{"--help"}, subs;
    for (const OptionSpec& o : c->options) opts.push_back("--" + std::string(o.name));
    for (const SubcommandSpec& sc : c->subcommands) subs.emplace_back(sc.name);
    s += "    " + std::string(c->name) + ")\n      opts='" + words_of(opts) + "' subs='" +
         words_of(subs) + "'\n      case $prev in\n";
    for (const OptionSpec& o : c->options)
      if (o.value) s += "        --" + std::string(o.name) + ") " + compgen_for(o.complete) + "; return;;\n";
    s += "      esac\n";
    if (!c->subcommands.empty()) {
      s += "      if [[ $COMP_CWORD -eq 3 && $cur != -* ]]; then\n        case $sub in\n";
      for (const SubcommandSpec& sc : c->subcommands)
        if (sc.complete)
          s += "          " + std::string(sc.name) + ") " + compgen_for(sc.complete) + "; return;;\n";
      s += "        esac\n      fi\n";
    }
    s += "      ;;\n";
  }
  s +=
      "  esac\n"
      "  if [[ $cur == -* ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
      "  elif [[ -n $subs && $COMP_CWORD -eq 2 ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$subs\" -- \"$cur\"))\n"
      "  else\n"
      "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      "  fi\n"
      "}\n"
      "complete -F _cardwright cardwright\n";
  return s;
}

std::string man_page(const std::string& version) {
  std::string s = ".TH CARDWRIGHT 1 \"\" \"cardwright " + version + "\" \"User Commands\"\n";
  s += ".SH NAME\ncardwright \\- ingest photos from camera cards into an organised, backed\\-up "
       "archive\n";
  s += ".SH SYNOPSIS\n.B cardwright\n.I COMMAND\n.RI [ ARGUMENTS ]\n";
  s += ".SH DESCRIPTION\n"
       "Copies the images of camera cards into an archive tree (and backup trees), names "
       "files and folders by macro specifications, records every ingestion in a database "
       "and writes a report.\n"
       "Settings live in presets; start with\n.B cardwright init\n"
       "and see the PRESET KEYS below.\n";
  s += ".SH COMMANDS\n";
  for (const CommandSpec* c : command_table()) {
    s += ".SS \"" + std::string(c->name) + "\"\n" + roff(c->summary) + ".\n.PP\n.nf\n";
    for (const char* u : c->usage) s += roff("cardwright " + std::string(c->name) + " " + u) + "\n";
    s += ".fi\n";
    if (c->description) s += ".PP\n" + roff(c->description) + "\n";
    for (const SubcommandSpec& sc : c->subcommands)
      s += ".TP\n.B " + roff(std::string(sc.name) + (*sc.args ? " " : "") + sc.args) + "\n" +
           roff(sc.help) + "\n";
    for (const OptionSpec& o : c->options)
      s += ".TP\n" + (o.value ? ".BI " + roff_arg("--" + std::string(o.name) + " ") + " " + roff_arg(o.value)
                               : ".B " + roff_arg("--" + std::string(o.name))) +
           "\n" + roff(o.help) + "\n";
    if (c->exit_status) s += ".PP\nExit status: " + roff(c->exit_status) + "\n";
  }
  s += ".SH PRESET KEYS\n"
       "Set with\n.BR \"cardwright preset set \" \"KIND NAME KEY VALUE\" ;\n"
       "list with\n.BR \"cardwright preset keys \" KIND .\n";
  for (int k = 1; k < kPresetKinds; ++k) {
    const PresetKind kind = static_cast<PresetKind>(k);
    man_keys(s, preset_kind_label(kind), preset_keys_of(kind));
  }
  // The master holds every key above except the metadata fields, and these of its own.
  std::vector<const PresetKey*> own;
  for (const PresetKey& k : master_only_keys()) own.push_back(&k);
  man_keys(s, "Master (also every Destination, File Handling and Metadata key)", own);
  s += ".SH EXIT STATUS\n0 success, 1 failure, 2 bad usage (each command's section says more).\n";
  s += ".SH FILES\n"
       ".TP\n.I ~/.local/share/CardwrightPro\npresets, database (cw_main.sqlite3) and run log "
       "(cw_log.txt); $XDG_DATA_HOME when set\n"
       ".TP\n.I ~/.config/CardwrightPro/CardwrightPro.conf\nglobal preferences "
       "('cardwright pref'); $XDG_CONFIG_HOME when set\n";
  return s;
}

}  // namespace cw::app

namespace cw::app {

namespace {

int run_completion(const CommandSpec& spec, Args& a) {
  if (a.words.size() != 1 || a.words[0] != "bash")
    return usage_error(spec.name, "give the shell: 'cardwright completion bash'");
  std::fputs(bash_completion_script().c_str(), stdout);
  return 0;
}

int run_manpage(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "takes no arguments");
  std::fputs(man_page(CARDWRIGHT_VERSION).c_str(), stdout);
  return 0;
}

}  // namespace

const CommandSpec& completion_command() {
  static const CommandSpec spec{
      "completion",
      "print the bash completion script",
      {"bash"},
      "Prints the bash completion of every command, option and preset kind. It is installed\n"
      "with the program; to try it in a shell: source <(cardwright completion bash)",
      {},
      {},
      {},
      nullptr,
      run_completion,
  };
  return spec;
}

const CommandSpec& manpage_command() {
  static const CommandSpec spec{
      "manpage",
      "print the manual page (roff)",
      {""},
      "Prints the manual page, made from the same table as every --help. It is installed with\n"
      "the program; to read it uninstalled: cardwright manpage | man -l -",
      {},
      {},
      {},
      nullptr,
      run_manpage,
  };
  return spec;
}

}  // namespace cw::app
