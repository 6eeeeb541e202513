// `cardwright macro`: the macro laboratory. Expands a specification the way an ingestion
// would (the user's presets, vocabulary, database choices and notes), with the laboratory's
// sample image data (or a real image), and prints the result; or prints the reference text of
// every macro expanded the same way.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "metadata/macro.h"
#include "metadata/macro_exif.h"
#include "metadata/macro_reference.h"
#include "metadata/macro_settings_env.h"
#include "metadata/macro_text.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "settings/vocabulary.h"

namespace cw::app {
namespace {

void print_macro_help() {
  std::printf(
      "Usage: cardwright macro [OPTIONS] TEXT\n"
      "       cardwright macro [OPTIONS] --reference\n"
      "Expands the macros in TEXT as the next ingestion would (current presets, keyword\n"
      "vocabulary, database choices and notes) with sample image data (file ABCD0001.NEF,\n"
      "date YYYYMMDD_hhmmss, sequence 123456, number range 0420-0511) and prints the result.\n"
      "The options below change values for this expansion only; nothing is saved.\n\n"
      "Options:\n"
      "  --reference         expand the reference text that lists every macro\n"
      "  --xml               escape values for XML and make list fields RDF list items\n"
      "  --image FILE        take the file name, date and EXIF values from a real image\n"
      "  --notes TEXT        the notes text ({@notes}; default: the next ingestion's notes)\n"
      "  --set NAME=VALUE    a preset property (FilenamePrefix, NameFormat, qf_NAME, ...)\n"
      "  --iptc NAME=VALUE   an IPTC field ({@iptc.NAME}) of the photographer preset\n"
      "  --keyword A|B       a keyword to check, its path of names joined by \"|\"\n"
      "  --catalog-set A|B   a catalog set to check\n"
      "  --help              show this help\n");
}

bool split_assignment(const char* arg, std::string& name, std::string& value) {
  const char* eq = std::strchr(arg, '=');
  if (!eq || eq == arg) return false;
  name.assign(arg, eq);
  value = eq + 1;
  return true;
}

// Checks the entry "A|B|C" under `heading` in the working set's vocabulary (nothing saved).
void check_vocabulary_path(PROPSET* set, const char* heading, const std::string& path) {
  std::vector<std::string> names{heading};
  for (std::size_t from = 0; from <= path.size();) {
    std::size_t bar = path.find('|', from);
    if (bar == std::string::npos) bar = path.size();
    names.push_back(path.substr(from, bar - from));
    from = bar + 1;
  }
  Vocabulary vocabulary;
  vocabulary.load(set);
  vocabulary.check_path(names, set);
}

// Sample inputs replaced by what a real image gives: its name, extension, folder, capture
// date (the file's modification time when it has none) and its EXIF values.
bool inputs_from_image(const std::string& file, MacroInputs& in) {
  struct stat st{};
  if (stat(file.c_str(), &st) != 0) {
    std::fprintf(stderr, "cardwright macro: cannot read %s: %s\n", file.c_str(),
                 std::strerror(errno));
    return false;
  }
  std::size_t slash = file.find_last_of('/');
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  in.cur_filename = dot == std::string::npos ? name : name.substr(0, dot);
  in.ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  in.cur_relPath = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
  in.cur_path = file;
  if (std::optional<std::string> when = exif_capture_datetime(file)) {
    in.cur_datetime = *when;
  } else {
    std::tm local{};
    std::time_t t = st.st_mtime;
    in.cur_datetime = localtime_r(&t, &local) ? format_time("%Y%m%d_%H%M%S", local)
                                              : "00000000_000000";
  }
  return true;
}

}  // namespace

int cmd_macro(int argc, char** argv) {
  MacroInputs in = macro_laboratory_inputs();
  bool reference = false;
  const char* image = nullptr;
  const char* text = nullptr;
  std::optional<std::string> notes;
  std::vector<std::pair<std::string, std::string>> properties, iptc;
  std::vector<std::string> keywords, catalog_sets;

  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    auto next_value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      print_macro_help();
      return 0;
    } else if (std::strcmp(a, "--reference") == 0) {
      reference = true;
    } else if (std::strcmp(a, "--xml") == 0) {
      in.xml = true;
    } else if (std::strcmp(a, "--image") == 0 || std::strcmp(a, "--notes") == 0 ||
               std::strcmp(a, "--set") == 0 || std::strcmp(a, "--iptc") == 0 ||
               std::strcmp(a, "--keyword") == 0 || std::strcmp(a, "--catalog-set") == 0) {
      const char* v = next_value();
      if (!v) return usage_error("macro", (std::string(a) + " needs a value").c_str());
      std::string name, assigned;
      if (std::strcmp(a, "--image") == 0) {
        image = v;
      } else if (std::strcmp(a, "--notes") == 0) {
        notes = v;
      } else if (std::strcmp(a, "--keyword") == 0) {
        keywords.emplace_back(v);
      } else if (std::strcmp(a, "--catalog-set") == 0) {
        catalog_sets.emplace_back(v);
      } else if (!split_assignment(v, name, assigned)) {
        return usage_error("macro", (std::string(a) + " needs NAME=VALUE").c_str());
      } else {
        (std::strcmp(a, "--set") == 0 ? properties : iptc).emplace_back(name, assigned);
      }
    } else if (a[0] == '-' && a[1] == '-') {
      return usage_error("macro", (std::string("unknown option ") + a).c_str());
    } else if (text) {
      return usage_error("macro", "give one TEXT (quote it)");
    } else {
      text = a;
    }
  }
  if (reference == (text != nullptr))
    return usage_error("macro", reference ? "--reference takes no TEXT" : "missing TEXT");
  if (image && !inputs_from_image(image, in)) return 1;

  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase);
  if (!session->ok()) return 1;
  CWParam& param = session->settings();
  for (const auto& [name, value] : properties) param.master().put_str(name, value);
  for (const auto& [name, value] : iptc) param.preset(PresetKind::Photog).put_str(name, value);
  for (const std::string& path : catalog_sets)
    check_vocabulary_path(param.working_set(), "Catalog Sets", path);
  for (const std::string& path : keywords)
    check_vocabulary_path(param.working_set(), "Keywords", path);
  SettingsMacroEnvironment& env = session->macro_environment();
  env.notes = notes.value_or(pref_get_text("IngestionNotes"));

  std::string source = reference ? macro_reference_text() : std::string(text);
  std::string processed;
  if (!macro_process_with_data(source, processed, in, env)) {
    std::fprintf(stderr, "Macro processing failed.\n");
    return 1;
  }
  std::fputs(processed.c_str(), stdout);
  if (processed.empty() || processed.back() != '\n') std::fputc('\n', stdout);
  return 0;
}

}  // namespace cw::app
