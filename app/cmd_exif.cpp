// `cardwright exif FILE…`: the EXIF values the program reads from each file (as naming reads
// them) and its capture identity; with --dump, the file's whole directory structure.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "foundation/text.h"
#include "imagefile/identity.h"
#include "imagefile/print_sink.h"
#include "imagefile/tv_reader.h"
#include "metadata/macro_settings_env.h"

namespace cw::app {

namespace {

int run_exif(const CommandSpec& spec, Args& a) {
  const std::vector<std::string>& files = a.words;
  const bool dump = a.has("dump");
  if (files.empty()) return usage_error(spec.name, "no file given");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  MacroEnvironment& env = session->macro_environment();
  if (a.has("video-times-local")) env.video_times_local = true;

  int status = 0;
  TV_Reader reader;
  reader.set_video_times_local(env.video_times_local);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i];
    // Names and values come from the file: their control characters are shown escaped.
    const std::string shown_path = printable_text(path);
    if (files.size() > 1) std::printf("%s==> %s <==\n", i ? "\n" : "", shown_path.c_str());
    const bool ok = reader.open(path, true, true);
    if (!ok) {
      std::fprintf(stderr, "cardwright exif: %s: %s\n", shown_path.c_str(),
                   printable_text(reader.message()).c_str());
      status = 1;
    }
    // Values read before a failure are still shown: they are what naming would use.
    if (const TV_Image* im = reader.image())
      for (const MacroPair& p : im->macro_pairs)
        std::printf("%s: %s\n", p.name.c_str(), printable_text(p.value).c_str());
    if (ok)
      std::printf("CaptureIdentity: %s\n",
                  printable_text(capture_identity(reader, path)).c_str());
    if (dump) {
      reader.set_print(stdout_sink());
      if (!reader.open(path, false, false))
        std::printf("\nERROR: %s\n", printable_text(reader.message()).c_str());
      reader.set_print(nullptr);
    }
  }
  return status;
}

}  // namespace

const CommandSpec& exif_command() {
  static const CommandSpec spec{
      "exif",
      "show the EXIF values and capture identity of camera files",
      {"[--dump] FILE..."},
      "Shows the EXIF values read from each camera file as 'Name: value' lines (the names the\n"
      "{@exif.NAME} macros take) and its capture identity.",
      {},
      {{"dump", nullptr, "also show the file's internal TIFF/EXIF structure"},
       {"video-times-local", nullptr, kVideoTimesLocalHelp}},
      {},
      "0 when every file was read, 1 when one could not be read, 2 bad usage.",
      run_exif,
  };
  return spec;
}

}  // namespace cw::app
