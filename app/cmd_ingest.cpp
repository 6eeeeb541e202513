// `cardwright ingest --card DIR --primary DIR …`: an ingestion with the settings of the master
// preset, which the friendly flags override, started through the Start flow and recorded in
// the database (control/start_flow.h).
#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "app/console_run.h"
#include "app/ingest_command.h"
#include "control/start_flow.h"
#include "gps/camera_clock.h"
#include "ingest/sidecar_placement.h"
#include "settings/param.h"

namespace cw::app {

namespace {

void print_help() {
  std::printf(
      "Usage: cardwright ingest [--card DIR] [--primary DIR] [OPTIONS]\n"
      "Copies the images of a card (or a folder) into the archive, records the ingestion in\n"
      "the database and prints the report. Settings come from the master preset; the flags\n"
      "below override them for this run.\n\n"
      "  --preset NAME         master preset to use (default: the current one)\n"
      "  --client NAME         client of the ingestion (added when new; default: the last one)\n"
      "  --project NAME        project of that client (added when new)\n"
      "  --card-name NAME      card record of the ingestion (added when new)\n"
      "  --notes TEXT          ingestion notes, also {@notes} in the specifications\n"
      "                        (default: the preference IngestionNotes)\n"
      "  --no-backup           no pre-conversion backup\n"
      "  --card DIR            the card's image folder (or ptp/CAMERA for a camera; default:\n"
      "                        the preset's CardFolder)\n"
      "  --all-cards           ingest every mounted card (a mount with a DCIM folder), up to\n"
      "                        eight at once, each into the same archive and record\n"
      "  --skip ROOT           with --all-cards: leave the card mounted at ROOT out\n"
      "  --primary DIR         root of the primary archive tree\n"
      "  --backup DIR          first copy into this backup tree, then into the primary tree\n"
      "  --post-backup DIR     also copy every primary file into this tree\n"
      "  --include             --extensions lists the extensions to take\n"
      "  --exclude             --extensions lists the extensions to skip (default)\n"
      "  --extensions \"JPG CR2\" extension list, separated by spaces\n"
      "  --files FILE          ingest only the images listed in FILE, one path per line\n"
      "  --name-format SPEC    file-name specification\n"
      "  --folder-format SPEC  folder specification\n"
      "  --partition-size N    images per number-range folder (default: no partitions)\n"
      "  --digits N            digits of a number-range number: 4, 5 or 6 (default 4)\n"
      "  --number-source N     1: number from the camera's file name; 2: sequence (default)\n"
      "  --starting-number N   first sequence number (default 1)\n"
      "  --converter PATH      DNG converter program (used with --backup)\n"
      "  --verify-only         let the converter verify raws without keeping DNGs\n"
      "  --embed               have the converter embed the raw file in the DNG\n"
      "  --preview 0|1|2       DNG preview: none (default), medium size, full size\n"
      "  --jpeg-verify         decode copied JPEGs to verify them\n"
      "  --no-jpeg-verify      do not decode copied JPEGs (without either, the master\n"
      "                        preset decides; a new one does not verify)\n"
      "  --xmp-to-jpeg         merge each JPEG's XMP sidecar into the copied JPEG\n"
      "  --extract-jpeg        save the JPEG preview embedded in raw files (JPEG folder)\n"
      "  --template NAME|PATH  give each image an XMP sidecar from this metadata template\n"
      "                        (a NAME is looked up in the program's data folder)\n"
      "  --develop-settings PATH  develop settings (.xmp or .lrtemplate) for each sidecar\n"
      "  --gps-track FILE      tag the images with positions from this GPX or LOG track\n"
      "                        (repeat for several files; turns GPS tagging on)\n"
      "  --camera-zone ZONE    the camera clock's zone: an entry of 'cardwright gps zones'\n"
      "                        or hours from UTC such as +1 or -3.5 (default: the preset's)\n"
      "  --camera-dst          the camera clock was on summer time\n"
      "  --clock-adjust S      seconds to add to the camera's times (its clock was slow)\n"
      "  --no-gps              no GPS tagging, whatever the preset says\n"
      "  --json                print the counters as JSON instead of the report\n"
      "  --yes                 answer Yes to every question\n"
      "  --help                show this help\n\n"
      "Exit status: 0 success, 1 the ingestion failed, 2 bad usage.\n");
}

enum Flag {
  kCard = 256, kPrimary, kBackup, kPostBackup, kInclude, kExclude, kExtensions, kFiles,
  kNameFormat, kFolderFormat, kPartitionSize, kDigits, kNumberSource, kStartingNumber,
  kConverter, kVerifyOnly, kEmbed, kPreview, kJpegVerify, kNoJpegVerify, kXmpToJpeg,
  kExtractJpeg, kJson, kYes, kHelp,
  kPreset, kClient, kProject, kCardName, kNotes, kNoBackup,
  kTemplate, kDevelopSettings,
  kGpsTrack, kCameraZone, kCameraDst, kClockAdjust, kNoGps, kAllCards, kSkip,
};

const option kOptions[] = {
    {"card", required_argument, nullptr, kCard},
    {"primary", required_argument, nullptr, kPrimary},
    {"backup", required_argument, nullptr, kBackup},
    {"post-backup", required_argument, nullptr, kPostBackup},
    {"include", no_argument, nullptr, kInclude},
    {"exclude", no_argument, nullptr, kExclude},
    {"extensions", required_argument, nullptr, kExtensions},
    {"files", required_argument, nullptr, kFiles},
    {"name-format", required_argument, nullptr, kNameFormat},
    {"folder-format", required_argument, nullptr, kFolderFormat},
    {"partition-size", required_argument, nullptr, kPartitionSize},
    {"digits", required_argument, nullptr, kDigits},
    {"number-source", required_argument, nullptr, kNumberSource},
    {"starting-number", required_argument, nullptr, kStartingNumber},
    {"converter", required_argument, nullptr, kConverter},
    {"verify-only", no_argument, nullptr, kVerifyOnly},
    {"embed", no_argument, nullptr, kEmbed},
    {"preview", required_argument, nullptr, kPreview},
    {"jpeg-verify", no_argument, nullptr, kJpegVerify},
    {"no-jpeg-verify", no_argument, nullptr, kNoJpegVerify},
    {"xmp-to-jpeg", no_argument, nullptr, kXmpToJpeg},
    {"extract-jpeg", no_argument, nullptr, kExtractJpeg},
    {"json", no_argument, nullptr, kJson},
    {"yes", no_argument, nullptr, kYes},
    {"help", no_argument, nullptr, kHelp},
    {"preset", required_argument, nullptr, kPreset},
    {"client", required_argument, nullptr, kClient},
    {"project", required_argument, nullptr, kProject},
    {"card-name", required_argument, nullptr, kCardName},
    {"notes", required_argument, nullptr, kNotes},
    {"no-backup", no_argument, nullptr, kNoBackup},
    {"template", required_argument, nullptr, kTemplate},
    {"develop-settings", required_argument, nullptr, kDevelopSettings},
    {"gps-track", required_argument, nullptr, kGpsTrack},
    {"camera-zone", required_argument, nullptr, kCameraZone},
    {"camera-dst", no_argument, nullptr, kCameraDst},
    {"clock-adjust", required_argument, nullptr, kClockAdjust},
    {"no-gps", no_argument, nullptr, kNoGps},
    {"all-cards", no_argument, nullptr, kAllCards},
    {"skip", required_argument, nullptr, kSkip},
    {nullptr, 0, nullptr, 0},
};

bool is_number(const char* s) {
  char* end = nullptr;
  std::strtol(s, &end, 10);
  return *s && end && *end == '\0';
}

// Upper case, runs of spaces made single, no dots: the list form the scan expects.
std::string normal_extension_list(const std::string& text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == '.') continue;
    if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

// Moves a fresh string in (plain assignment of short literals trips a false warning of
// some compilers).
void put(std::string& slot, std::string value) { slot.swap(value); }

// Applies one flag; false with `error` set for a bad value.
bool apply(IngestArgs& p, int flag, const char* arg, const char*& error) {
  auto& v = p.request.given.values;
  auto number = [&](int pos) {
    if (!is_number(arg)) error = "expects a number";
    put(v[pos], arg);
  };
  switch (flag) {
    case kCard: p.card = arg; break;
    case kPrimary: put(v[kParamPrimaryFolder], arg); break;
    case kBackup: put(v[kParamBackupFolder], arg); put(v[kParamWantBackup], "1"); break;
    case kPostBackup: put(v[kParamBackupFolderPost], arg); put(v[kParamWantBackupPost], "1"); break;
    case kInclude: put(v[kParamIncludeExtensions], "1"); break;
    case kExclude: put(v[kParamIncludeExtensions], "0"); break;
    case kExtensions: put(v[kParamExtensions], normal_extension_list(arg)); break;
    case kFiles: p.files = arg; break;
    case kNameFormat: put(v[kParamNameFormat], arg); break;
    case kFolderFormat: put(v[kParamFolderFormat], arg); break;
    case kPartitionSize: number(kParamPartitionSize); break;
    case kDigits: number(kParamNumberRangeDigits); break;
    case kNumberSource: number(kParamNumberRangeSource); break;
    case kStartingNumber: number(kParamStartingNumber); break;
    case kConverter: put(v[kParamConverterPath], arg); break;
    case kVerifyOnly: put(v[kParamVerifyOnly], "verifyOnly"); break;
    case kEmbed: put(v[kParamEmbed], "-e"); break;
    case kPreview:
      if (std::string(arg) != "0" && std::string(arg) != "1" && std::string(arg) != "2")
        error = "expects 0, 1 or 2";
      put(v[kParamPreview], std::string("-p") + arg);
      break;
    case kJpegVerify: put(v[kParamWantJpegVerify], "1"); break;
    case kNoJpegVerify: put(v[kParamWantJpegVerify], "0"); break;
    case kXmpToJpeg: put(v[kParamWantXMPtoJPG], "1"); break;
    case kExtractJpeg: put(v[kParamExtractJPG], "1"); break;
    case kJson: p.json = true; break;
    case kYes: p.assume_yes = true; break;
    case kHelp: p.help = true; break;
    case kPreset: p.request.preset = arg; break;
    case kClient: p.request.client = arg; break;
    case kProject: p.request.project = arg; break;
    case kCardName: p.request.card_name = arg; break;
    case kNotes: p.request.notes = arg; break;
    case kNoBackup: put(v[kParamWantBackup], "0"); break;
    case kTemplate:
      put(v[kParamSidecarPath], metadata_template_path(arg));
      if (access(v[kParamSidecarPath].c_str(), R_OK) != 0) error = "can't read the template";
      break;
    case kDevelopSettings:
      put(v[kParamCRDefaults], arg);
      if (access(arg, R_OK) != 0) error = "can't read the develop settings";
      break;
    case kGpsTrack:
      if (access(arg, R_OK) != 0) error = "can't read the GPS track";
      p.request.gps_tracks.emplace_back(arg);
      p.request.preset_values.emplace_back("WantGPS", "1");
      p.request.preset_values.emplace_back("GPSSource", "0");
      break;
    case kCameraZone: {
      std::optional<std::string> zone = camera_zone_entry(arg);
      if (!zone) error = "expects a zone of 'cardwright gps zones' or hours such as +1";
      else p.request.preset_values.emplace_back("CameraZone", *zone);
      break;
    }
    case kCameraDst: p.request.preset_values.emplace_back("CameraZoneDST", "1"); break;
    case kClockAdjust:
      if (!is_number(arg)) error = "expects a number of seconds";
      p.request.preset_values.emplace_back("CameraAdjustEXIF", "0");
      p.request.preset_values.emplace_back("CameraAdjustActual", arg);
      break;
    case kNoGps: p.request.preset_values.emplace_back("WantGPS", "0"); break;
    case kAllCards: p.request.cards_mode = true; break;
    case kSkip: p.skip_roots.emplace_back(arg); break;
    default: error = "unknown option"; return false;
  }
  return error == nullptr;
}

}  // namespace

int parse_ingest_flags(const char* command, int argc, char** argv, IngestArgs& p) {
  // getopt_long expects the program name at argv[0]; the caller removed it.
  std::vector<char*> args{const_cast<char*>(command)};
  args.insert(args.end(), argv, argv + argc);
  optind = 0;
  opterr = 0;
  int flag;
  while ((flag = getopt_long(static_cast<int>(args.size()), args.data(), "", kOptions,
                             nullptr)) != -1) {
    const char* error = nullptr;
    if (flag == '?' || flag == ':') return usage_error(command, "unknown option or missing value");
    if (!apply(p, flag, optarg, error)) return usage_error(command, error);
  }
  p.operands.assign(args.begin() + optind, args.end());
  return -1;
}

int run_ingest(IngestArgs& p, const std::function<bool(StartRequest&)>& complete) {
  ConsoleUserInterface ui(p.assume_yes);
  CommandSession session(ui, kSessionIngest, p.json ? stderr : stdout);
  if (!session->ok() || !session->settings_ok()) return 1;
  if (complete && !complete(p.request)) return 1;
  ConsoleIngestOptions options;
  options.json = p.json;
  options.assume_yes = p.assume_yes;
  options.skip_roots = p.skip_roots;
  return run_console_ingestion(*session, ui, p.request, options);
}

int cmd_ingest(int argc, char** argv) {
  IngestArgs p;
  if (int status = parse_ingest_flags("ingest", argc, argv, p); status >= 0) return status;
  if (p.help) {
    print_help();
    return 0;
  }
  if (!p.operands.empty()) return usage_error("ingest", "unexpected argument");
  if (p.request.cards_mode && (!p.card.empty() || !p.files.empty()))
    return usage_error("ingest", "--all-cards takes no --card or --files");
  if (!p.skip_roots.empty() && !p.request.cards_mode)
    return usage_error("ingest", "--skip goes with --all-cards");
  StartRequest& r = p.request;
  if (!p.files.empty()) {
    r.chosen_images.emplace();
    if (!read_path_list(p.files, *r.chosen_images)) {
      std::fprintf(stderr, "cardwright ingest: can't read %s\n", p.files.c_str());
      return 1;
    }
  }
  r.source = p.card;
  return run_ingest(p, nullptr);
}

}  // namespace cw::app
