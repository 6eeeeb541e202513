// `cardwright macro`: the macro laboratory. Expands a specification the way an ingestion
// would (the user's presets, vocabulary, database choices and notes), with the laboratory's
// sample image data (or a real image), and prints the result; or prints the reference text of
// every macro expanded the same way.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/macro_laboratory.h"
#include "foundation/text.h"

namespace cw::app {
namespace {

bool split_assignment(const char* arg, std::string& name, std::string& value) {
  const char* eq = std::strchr(arg, '=');
  if (!eq || eq == arg) return false;
  name.assign(arg, eq);
  value = eq + 1;
  return true;
}

// The reference: each macro's text beside its value with the sample data (or the image).
void print_reference(const MacroInputs& in, MacroEnvironment& env) {
  for (const ReferenceLine& row : macro_reference_values(in, env)) {
    if (!row.heading.empty()) {
      std::printf("%s%s\n", row.heading == "Simple Macros" ? "" : "\n", row.heading.c_str());
      continue;
    }
    if (row.label.empty()) {
      std::printf("  %s\n      = %s\n", row.specification.c_str(), row.value.c_str());
      continue;
    }
    std::string line = format_limited(4000, "  %-42s %-30s %s", row.label.c_str(),
                                      row.specification.c_str(), row.value.c_str());
    line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
}

int run_macro(const CommandSpec& spec, Args& a) {
  const char* cmd = spec.name;
  MacroInputs in = laboratory_sample_inputs();
  const bool reference = a.has("reference");
  in.xml = a.has("xml");
  if (reference && !a.words.empty()) return usage_error(cmd, "--reference takes no TEXT");
  if (!reference && a.words.empty()) return usage_error(cmd, "missing TEXT (quote it), or --reference");
  if (a.words.size() > 1) return usage_error(cmd, "give one TEXT (quote it)");
  std::vector<std::pair<std::string, std::string>> properties, iptc;
  for (const char* option : {"set", "iptc"})
    for (const std::string& v : a.values(option)) {
      std::string name, assigned;
      if (!split_assignment(v.c_str(), name, assigned)) return bad_value(cmd, option, v, "expects NAME=VALUE");
      (std::string(option) == "set" ? properties : iptc).emplace_back(name, assigned);
    }
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase);
  if (!session->ok()) return 1;
  for (const auto& [name, value] : properties) set_laboratory_property(*session, name, value);
  for (const auto& [name, value] : iptc) set_laboratory_iptc(*session, name, value);
  for (const std::string& path : a.values("catalog-set"))
    check_laboratory_vocabulary(*session, "Catalog Sets", path);
  for (const std::string& path : a.values("keyword"))
    check_laboratory_vocabulary(*session, "Keywords", path);
  MacroEnvironment& env =
      next_ingestion_macros(*session, a.value("notes"), a.has("video-times-local"));
  if (auto image = a.value("image")) {
    std::string why;
    if (!laboratory_image_inputs(*image, env, in, why)) {
      std::fprintf(stderr, "cardwright macro: cannot read %s: %s\n", image->c_str(), why.c_str());
      return 1;
    }
  }

  if (reference) {
    print_reference(in, env);
    return 0;
  }
  const LabExpansion expansion = expand_in_laboratory(a.words[0], in, env);
  if (!expansion.ok) {
    std::fprintf(stderr, "Macro processing failed.\n");
    return 1;
  }
  std::fputs(expansion.text.c_str(), stdout);
  if (expansion.text.empty() || expansion.text.back() != '\n') std::fputc('\n', stdout);
  if (expansion.unknown.empty()) return 0;
  std::fflush(stdout);
  std::fprintf(stderr, "%s%s\n", a.has("strict") ? "" : "Warning: ", expansion.warning.c_str());
  return a.has("strict") ? 1 : 0;
}

}  // namespace

const CommandSpec& macro_command() {
  static const CommandSpec spec{
      "macro",
      "expand a macro specification with sample data (the macro laboratory)",
      {"[OPTIONS] TEXT", "[OPTIONS] --reference"},
      "Expands the macros in TEXT as the next ingestion would (current presets, keyword\n"
      "vocabulary, database choices and notes) with sample image data (file ABCD0001.NEF,\n"
      "date YYYYMMDD_hhmmss, sequence 123456, number range 0420-0511) and prints the result.\n"
      "A macro the expander does not know stays in the result as written; a warning names it\n"
      "and the macros it was probably meant to be. The options change values for this\n"
      "expansion only; nothing is saved.",
      {},
      {
          {"reference", nullptr, "list every macro: its name, its text and its sample value"},
          {"xml", nullptr, "escape values for XML and make list fields RDF list items"},
          {"video-times-local", nullptr, kVideoTimesLocalHelp},
          {"image", "FILE", "take the file name, date and EXIF values from a real image", false,
           "file"},
          {"notes", "TEXT", "the notes text ({@notes}; default: the preference IngestionNotes)"},
          {"set", "NAME=VALUE", "a master preset property (FilenamePrefix, qf_NAME, ...)", true},
          {"iptc", "NAME=VALUE", "an IPTC field ({@iptc.NAME}) of the photographer preset", true},
          {"keyword", "A|B", "a keyword to check, its path of names joined by \"|\"", true},
          {"catalog-set", "A|B", "a catalog set to check", true},
          {"strict", nullptr, "exit 1 when TEXT holds an unknown macro (default: warn, exit 0)"},
      },
      {{"reference", "strict"}},
      "0 success, 1 failure (an image that can't be read, an unknown macro with --strict),\n"
      "2 bad usage.",
      run_macro,
  };
  return spec;
}

}  // namespace cw::app
