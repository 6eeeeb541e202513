// The set-up of a new archive.
#include "control/settings_setup.h"

#include <cstdlib>
#include <filesystem>

namespace cw {

namespace {

std::string home_folder(const char* below) {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/" + below;
}

// An empty answer leaves the value unset.
std::optional<std::string> given(const std::optional<std::string>& answer) {
  if (!answer || answer->empty()) return std::nullopt;
  return answer;
}

// Sets KEY in the metadata preset the master names for `kind` and saves that preset.
bool save_field(CWParam& param, PresetKind kind, const char* master_key, const char* key,
                const std::string& value) {
  std::string name = param.master().get_str(master_key, kDefaultName).value_or(kDefaultName);
  if (name.empty()) name = kDefaultName;
  return set_preset_value(param, kind, name, key, value);
}

}  // namespace

bool archive_setup_due(CWParam& param) {
  return first_run(param) && param.master().get_str("PrimaryFolder").value_or("").empty();
}

ArchiveSetup current_archive_setup(CWParam& param) {
  CWPreset& m = param.master();
  ArchiveSetup s;
  s.archive = m.get_str("PrimaryFolder").value_or("");
  if (m.get_int("WantBackup", 1) != 0) s.backup = given(m.get_str("BackupFolder"));
  s.name_format = m.get_str("NameFormat");
  s.creator = given(param.preset(PresetKind::Photog).get_str("Creator"));
  s.copyright = given(param.preset(PresetKind::Rights).get_str("Copyright"));
  return s;
}

std::optional<ArchiveSetup> ask_archive_setup(UserInterface& ui, const ArchiveSetup& start) {
  auto answer = ui.ask_text("Archive folder (the root of your photo library)",
                            start.archive.empty() ? home_folder("Pictures/Archive") : start.archive);
  if (!answer || answer->empty()) return std::nullopt;
  ArchiveSetup setup{*answer, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  answer = ui.ask_text("Backup folder (every image is copied there first; best on another disk;\n"
                       "empty for no backup)",
                       start.backup.value_or(""));
  if (answer && !answer->empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*answer, ec) &&
        ui.ask_yes_no("\"" + *answer + "\" does not exist. Create it now?"))
      std::filesystem::create_directories(*answer, ec);
    setup.backup = *answer;
  }
  setup.name_format = given(ui.ask_text(
      "File names of the copies (a macro specification; 'cardwright macro --reference')",
      start.name_format.value_or("")));
  setup.creator = given(ui.ask_text("Creator (the photographer's name; empty for none)",
                                    start.creator.value_or("")));
  setup.copyright = given(ui.ask_text("Copyright notice (empty for none)",
                                      start.copyright.value_or("")));
  return setup;
}

bool save_archive_setup(CWParam& param, const ArchiveSetup& setup, std::string& why) {
  if (!save_archive_setup(param, setup.archive, setup.backup, why)) return false;
  auto failed = [&](const char* what) {
    why = std::string("the ") + what + " could not be saved";
    return false;
  };
  if (setup.name_format &&
      (!put_preset_value(param, PresetKind::Master, "NameFormat", *setup.name_format) ||
       !persist_working_key(param, "NameFormat")))
    return failed("name format");
  if (setup.creator &&
      !save_field(param, PresetKind::Photog, "MetaPhotog", "Creator", *setup.creator))
    return failed("creator");
  if (setup.copyright &&
      (!save_field(param, PresetKind::Rights, "MetaRights", "Copyright", *setup.copyright) ||
       !save_field(param, PresetKind::Rights, "MetaRights", "CopyrightStatus", "Copyrighted")))
    return failed("copyright notice");
  return true;
}

}  // namespace cw
