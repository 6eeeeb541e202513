// `cardwright examine FILE`: the examination report of one image file — every macro value the
// program would use for it, then its internal TIFF/EXIF structure.
#include <cstdio>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/examine_image.h"
#include "control/macro_laboratory.h"
#include "foundation/text.h"

namespace cw::app {

namespace {

int run_examine(const CommandSpec& spec, Args& a) {
  if (a.words.empty()) return usage_error(spec.name, "no file given");
  if (a.words.size() > 1) return usage_error(spec.name, "give one FILE");
  const std::string& file = a.words[0];
  // The macros show what an ingestion would use: the current presets, the database's
  // chosen rows and the notes of the next ingestion.
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase);
  if (!session->ok()) return 1;
  MacroEnvironment& env =
      next_ingestion_macros(*session, std::nullopt, a.has("video-times-local"));
  const Examination examined = examine_image(file, env);
  // The report quotes the file's own strings.
  std::fputs(printable_text(examined.report).c_str(), stdout);
  std::fflush(stdout);
  return examined.understood ? 0 : 1;
}

}  // namespace

const CommandSpec& examine_command() {
  static const CommandSpec spec{
      "examine",
      "show every macro value and the internal structure of an image file",
      {"FILE"},
      "Shows the value of every EXIF macro and of the IPTC fields of the current presets\n"
      "for an image file, then the file's internal structure as the program reads it.\n"
      "The file is only read.",
      {},
      {{"video-times-local", nullptr, kVideoTimesLocalHelp}},
      {},
      "0 when the file's structure was understood, 1 when it was not, 2 bad usage.",
      run_examine,
  };
  return spec;
}

}  // namespace cw::app
