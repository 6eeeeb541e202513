// `cardwright exif FILE…`: the EXIF values the program reads from each file (as naming reads
// them) and its capture identity; with --dump, the file's whole directory structure.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/exif_values.h"
#include "foundation/text.h"

namespace cw::app {

namespace {

int run_exif(const CommandSpec& spec, Args& a) {
  const std::vector<std::string>& files = a.words;
  const bool dump = a.has("dump");
  if (files.empty()) return usage_error(spec.name, "no file given");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  ExifValueReader reader(session_video_times_local(*session) || a.has("video-times-local"),
                         &session->cameras());

  int status = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i];
    // Names and values come from the file: their control characters are shown escaped.
    const std::string shown_path = printable_text(path);
    if (files.size() > 1) std::printf("%s==> %s <==\n", i ? "\n" : "", shown_path.c_str());
    const ExifReading reading = reader.read(path);
    if (!reading.read) {
      std::fprintf(stderr, "cardwright exif: %s: %s\n", shown_path.c_str(),
                   printable_text(reading.message).c_str());
      status = 1;
    }
    for (const auto& [name, value] : reading.values)
      std::printf("%s: %s\n", name.c_str(), printable_text(value).c_str());
    if (reading.read)
      std::printf("CaptureIdentity: %s\n", printable_text(reading.capture_identity).c_str());
    if (dump) {
      std::string message;
      const auto to_stdout = [](std::string_view text) {
        const std::string shown = printable_text(text);  // the file's own strings, escaped
        std::fwrite(shown.data(), 1, shown.size(), stdout);
      };
      if (!reader.dump(path, to_stdout, message))
        std::printf("\nERROR: %s\n", printable_text(message).c_str());
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
