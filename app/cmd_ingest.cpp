// `cardwright ingest --card DIR …`: an ingestion with the settings of the master preset, which
// the flags override for this run, started through the Start flow and recorded in the
// database (control/start_flow.h); with --dry-run, only where every image would go.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "app/console_run.h"
#include "control/gps_tracks.h"
#include "control/settings_access.h"
#include "control/start_flow.h"

namespace cw::app {

namespace {

// Upper case, runs of spaces (or commas) made single, no dots: the list form the scan expects.
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

// A whole number in [low, high]; nothing otherwise.
std::optional<long> number_in(const std::string& text, long low, long high) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < low || n > high) return std::nullopt;
  return n;
}

// Moves a fresh string in (plain assignment of short literals trips a false warning of
// some compilers).
void put(std::string& slot, std::string value) { slot.swap(value); }

}  // namespace

int ingest_request_from_options(const char* cmd, const Args& a, StartRequest& r,
                                ConsoleIngestOptions& options) {
  auto& v = r.given.values;
  if (auto x = a.value("preset")) r.preset = *x;
  if (int status = record_names_from_options(cmd, a, r); status >= 0) return status;
  if (auto x = a.value("notes")) r.notes = *x;
  if (auto x = a.value("card")) r.source = *x;
  r.cards_mode = a.has("all-cards");
  options.skip_roots = a.values("skip");
  if (!options.skip_roots.empty() && !r.cards_mode)
    return usage_error(cmd, "--skip ROOT leaves a card out of --all-cards; give --all-cards too");
  if (auto x = a.value("primary")) put(v[kParamPrimaryFolder], *x);
  if (auto x = a.value("backup")) {
    put(v[kParamBackupFolder], *x);
    put(v[kParamWantBackup], "1");
  }
  if (a.has("no-backup")) put(v[kParamWantBackup], "0");
  if (auto x = a.value("post-backup")) {
    put(v[kParamBackupFolderPost], *x);
    put(v[kParamWantBackupPost], "1");
  }
  // Extension filters: --only and --except say what they do; --include and --exclude only
  // say how the list of --extensions counts.
  for (const char* which : {"only", "except", "extensions"})
    if (auto x = a.value(which)) {
      const std::string list = normal_extension_list(*x);
      if (list.empty()) return bad_value(cmd, which, *x, "expects extensions such as \"JPG CR2\"");
      put(v[kParamExtensions], list);
    }
  if (a.has("only") || a.has("include")) put(v[kParamIncludeExtensions], "1");
  if (a.has("except") || a.has("exclude")) put(v[kParamIncludeExtensions], "0");
  if (a.has("extensions") && !a.has("include") && !a.has("exclude"))
    return usage_error(cmd,
                       "--extensions needs --include or --exclude to say whether the files are "
                       "taken or skipped; --only LIST takes just those, --except LIST skips them");
  if (auto x = a.value("files")) {
    r.chosen_images.emplace();
    if (!read_path_list(*x, *r.chosen_images)) return bad_value(cmd, "files", *x, "can't read it");
  }
  if (auto x = a.value("name-format")) put(v[kParamNameFormat], *x);
  if (auto x = a.value("folder-format")) put(v[kParamFolderFormat], *x);
  struct Ranged {
    const char* option;
    int position;
    long low, high;
    const char* expected;
  };
  static const Ranged kNumbers[] = {
      {"partition-size", kParamPartitionSize, 1, 1000000, "expects a number of images, 1 or more"},
      {"digits", kParamNumberRangeDigits, 4, 6, "expects 4, 5 or 6"},
      {"number-source", kParamNumberRangeSource, 1, 2, "expects 1 or 2"},
      {"starting-number", kParamStartingNumber, 0, 999999999, "expects a number, 0 or more"},
      {"preview", kParamPreview, 0, 2, "expects 0, 1 or 2"},
  };
  for (const Ranged& n : kNumbers)
    if (auto x = a.value(n.option)) {
      if (!number_in(*x, n.low, n.high)) return bad_value(cmd, n.option, *x, n.expected);
      put(v[static_cast<std::size_t>(n.position)], n.position == kParamPreview ? "-p" + *x : *x);
    }
  if (auto x = a.value("converter")) put(v[kParamConverterPath], *x);
  if (a.has("verify-only")) put(v[kParamVerifyOnly], "verifyOnly");
  if (a.has("embed")) put(v[kParamEmbed], "-e");
  if (a.has("jpeg-verify")) put(v[kParamWantJpegVerify], "1");
  if (a.has("no-jpeg-verify")) put(v[kParamWantJpegVerify], "0");
  if (a.has("verify-copies")) r.verify_copies = true;
  if (a.has("no-verify-copies")) r.verify_copies = false;
  if (a.has("reverify")) r.reverify = true;
  if (a.has("video-times-local")) r.video_times_local = true;
  if (a.has("xmp-to-jpeg")) put(v[kParamWantXMPtoJPG], "1");
  if (a.has("extract-jpeg")) put(v[kParamExtractJPG], "1");
  if (auto x = a.value("template")) {
    put(v[kParamSidecarPath], metadata_template_of(*x));
    if (access(v[kParamSidecarPath].c_str(), R_OK) != 0)
      return bad_value(cmd, "template", *x, "can't read " + v[kParamSidecarPath]);
  }
  if (auto x = a.value("develop-settings")) {
    if (access(x->c_str(), R_OK) != 0) return bad_value(cmd, "develop-settings", *x, "can't read it");
    put(v[kParamCRDefaults], *x);
  }
  for (const std::string& track : a.values("gps-track")) {
    if (access(track.c_str(), R_OK) != 0) return bad_value(cmd, "gps-track", track, "can't read it");
    r.gps_tracks.push_back(track);
  }
  if (auto x = a.value("track-date")) {
    if (r.gps_tracks.empty()) return usage_error(cmd, "--track-date goes with --gps-track");
    std::optional<std::string> date = track_date_of(*x);
    if (!date) return bad_value(cmd, "track-date", *x, kTrackDateExpected);
    r.gps_track_date = *date;
  }
  if (!r.gps_tracks.empty()) {
    r.preset_values.emplace_back("WantGPS", "1");
    r.preset_values.emplace_back("GPSSource", "0");
  }
  if (auto x = a.value("camera-zone")) {
    std::optional<std::string> zone = camera_zone_of_text(*x);
    if (!zone)
      return bad_value(cmd, "camera-zone", *x,
                       "expects a zone of 'cardwright gps zones', a zone name such as "
                       "Europe/Berlin or hours such as +1");
    r.preset_values.emplace_back("CameraZone", *zone);
    if (a.has("camera-dst") && zone->find(' ') == std::string::npos)  // a zone by name
      std::fprintf(stderr,
                   "--camera-dst is ignored: %s takes summer time from the zone database\n",
                   zone->c_str());
  }
  if (a.has("camera-dst")) r.preset_values.emplace_back("CameraZoneDST", "1");
  if (auto x = a.value("clock-adjust")) {
    if (!number_in(*x, -999999999, 999999999))
      return bad_value(cmd, "clock-adjust", *x, "expects a number of seconds such as -30");
    r.preset_values.emplace_back("CameraAdjustEXIF", "0");
    r.preset_values.emplace_back("CameraAdjustActual", *x);
  }
  if (a.has("no-gps")) r.preset_values.emplace_back("WantGPS", "0");
  r.dry_run = a.has("dry-run");
  r.strict_macros = a.has("strict");
  options.json = a.has("json");
  options.assume_yes = a.has("yes");
  return -1;
}

namespace {

int run_ingest(const CommandSpec& spec, Args& a) {
  if (!a.words.empty())
    return usage_error(spec.name, "unexpected argument '" + a.words[0] + "' (the card is --card DIR)");
  StartRequest request;
  ConsoleIngestOptions options;
  if (int status = ingest_request_from_options(spec.name, a, request, options); status >= 0)
    return status;
  ConsoleUserInterface ui(options.assume_yes);
  CommandSession session(ui, kSessionIngest, options.json ? stderr : stdout);
  if (!session->ok() || !session->settings_ok()) return 1;
  if (!a.has("primary") && offer_first_run_setup(*session, ui) == SetupOffer::kFailed) return 1;
  return run_console_ingestion(*session, ui, request, options);
}

}  // namespace

const CommandSpec& ingest_command() {
  static const CommandSpec spec{
      "ingest",
      "ingest a card into the archive (or show where it would go, with --dry-run)",
      {"--card DIR [--primary DIR] [--backup DIR | --no-backup] [OPTIONS]",
       "--all-cards [--skip ROOT]... [OPTIONS]", "--files FILE [OPTIONS]"},
      "Copies the images of a card (or any folder) into the archive, records the ingestion in\n"
      "the database and prints the report, which names the ingestion's ID, client, project and\n"
      "card record before anything is copied. Settings come from the master preset ('cardwright preset show master';\n"
      "'cardwright init' sets up the archive); the options below override them for this run.\n"
      "Nothing is asked unless standard input is a terminal.",
      {},
      with_record_name_options({
          {"card", "DIR", preset_default_help("the card's image folder, or ptp/CAMERA for a camera\n"
                                              "('cardwright camera list')", "CardFolder"),
           false, "dir"},
          {"all-cards", nullptr, "ingest every mounted card (a mount with a DCIM folder), up to\n"
                                 "eight at once, each into the same archive and record"},
          {"skip", "ROOT", "with --all-cards: leave the card mounted at ROOT out", true, "dir"},
          {"files", "FILE", "ingest only the images listed in FILE, one path per line", false, "file"},
          {"primary", "DIR", preset_default_help("root folder of the archive", "PrimaryFolder"),
           false, "dir"},
          {"backup", "DIR", preset_default_help("copy first into this (existing) backup folder, then\n"
                                                "into the archive; used while WantBackup is on",
                                                "BackupFolder"),
           false, "dir"},
          {"no-backup", nullptr, preset_default_help("copy straight into the archive, without a\n"
                                                     "pre-conversion backup", "WantBackup")},
          {"post-backup", "DIR", preset_default_help("also copy every archived file into DIR (needs a\n"
                                                     "pre-conversion backup)", "BackupFolderPost"),
           false, "dir"},
          {"only", "\"EXT...\"", "take only files with these extensions, e.g. \"JPG CR2\"\n"
                                 "(default: the master preset's ExtensionsMRU)"},
          {"except", "\"EXT...\"", "take every file except these extensions, e.g. \"MOV WAV\""},
          {"include", nullptr, "with --extensions: take only the files listed"},
          {"exclude", nullptr, "with --extensions: take every file except those listed"},
          {"extensions", "\"EXT...\"", "the list --include or --exclude works with"},
          {"name-format", "SPEC", preset_default_help("file names, a macro specification\n"
                                                      "('cardwright macro --reference')", "NameFormat")},
          {"folder-format", "SPEC", preset_default_help("archive folders, a macro specification",
                                                        "FolderFormat")},
          {"partition-size", "N", "images per number-range folder, 1 or more\n"
                                  "(default: the master preset's PartitionSize while its\n"
                                  "WantPartition is on; no partitions in a new preset)"},
          {"digits", "N", preset_default_help("digits of a number-range number: 4, 5 or 6",
                                              "NumberRangeDigits"), false, "4 5 6"},
          {"number-source", "N", preset_default_help("1: image number from the camera's file name;\n"
                                                     "2: from the sequence", "NumberRangeSource"),
           false, "1 2"},
          {"starting-number", "N", "first sequence number (default: the preference StartingNumber,\n"
                                   "which every ingestion advances; 1 at first)"},
          {"converter", "PATH", "run this DNG converter (needs a backup; default: the master\n"
                                "preset's ConverterApp while its KeepRaw is on, off in a new preset)",
           false, "file"},
          {"verify-only", nullptr, preset_default_help("let the converter only verify raw files",
                                                       "VerifyOnly")},
          {"embed", nullptr, preset_default_help("embed the raw file in the DNG", "Embed")},
          {"preview", "N", "DNG preview: 0 none, 1 medium size, 2 full size\n"
                           "(default: the master preset's Preview; -p0 in a new preset)",
           false, "0 1 2"},
          {"jpeg-verify", nullptr, preset_default_help("decode every copied JPEG to verify it",
                                                       "WantJPEGVerify")},
          {"no-jpeg-verify", nullptr, "do not decode copied JPEGs"},
          {"verify-copies", nullptr, "read every copy back from the disk and compare its\n"
                                     "content hash with the source's (default: the preference\n"
                                     "VerifyCopies, 1 at first)"},
          {"no-verify-copies", nullptr, "check copies by their size only (the card is then never\n"
                                        "called safe to format)"},
          {"reverify", nullptr, "read back every copy earlier runs made of the card's images,\n"
                                "even those unchanged since they were proven (default: the\n"
                                "preference ReverifyCopies, 0 at first)"},
          {"video-times-local", nullptr, kVideoTimesLocalHelp},
          {"xmp-to-jpeg", nullptr, preset_default_help("write the sidecar's metadata into copied JPEGs",
                                                       "XMPtoJPG")},
          {"extract-jpeg", nullptr, preset_default_help("save the JPEG preview embedded in raw files",
                                                        "ExtractJPG")},
          {"template", "NAME|PATH", "make each image's XMP sidecar from this metadata template\n"
                                    "(default: the master preset's, when EnableMeta is on)", false,
           "file"},
          {"develop-settings", "PATH", preset_default_help("develop settings for each sidecar",
                                                           "CRDefaults"), false, "file"},
          {"gps-track", "FILE", "tag the images with positions from this GPX or LOG track\n"
                                "(repeat for several; turns GPS tagging on)", true, "file"},
          {"track-date", "YYYY-MM-DD", "the date of --gps-track LOG files whose fixes carry none\n"
                                       "($GPGGA only, without $GPZDA or $GPRMC lines)"},
          {"camera-zone", "ZONE",
           preset_default_help("the camera clock's zone ('cardwright gps zones'), a zone\n"
                               "name such as Europe/Berlin or hours from UTC such as +1",
                               "CameraZone")},
          {"camera-dst", nullptr, preset_default_help("the camera clock was on summer time (a zone by\n"
                                                      "name takes it from the zone database)",
                                                      "CameraZoneDST")},
          {"clock-adjust", "S", "seconds to add to the camera's times (its clock was slow;\n"
                                "default: the master preset's adjustment)"},
          {"no-gps", nullptr, "no GPS tagging, whatever the preset says"},
          {"preset", "NAME", "the master preset to use (default: the current one;\n"
                             "'cardwright preset list master')"},
          {"notes", "TEXT", "notes of the ingestion, also {@notes} in specifications\n"
                            "(default: the preference IngestionNotes)"},
          {"dry-run", nullptr, "show where every image would go in every tree; copy, create and\n"
                               "record nothing"},
          {"strict", nullptr, "refuse name or folder specifications with unknown macros\n"
                              "(default: warn and go on)"},
          {"json", nullptr, "print the counters and the record as JSON instead of the report"},
          {"yes", nullptr, "answer Yes to every question"},
      }, "preset"),
      {{"backup", "no-backup"}, {"post-backup", "no-backup"}, {"converter", "no-backup"},
       {"only", "except"}, {"only", "include"}, {"only", "exclude"}, {"only", "extensions"},
       {"except", "include"}, {"except", "exclude"}, {"except", "extensions"},
       {"include", "exclude"}, {"jpeg-verify", "no-jpeg-verify"},
       {"verify-copies", "no-verify-copies"}, {"reverify", "no-verify-copies"},
       {"gps-track", "no-gps"}, {"track-date", "no-gps"},
       {"camera-zone", "no-gps"}, {"camera-dst", "no-gps"}, {"clock-adjust", "no-gps"},
       {"card", "all-cards"}, {"files", "all-cards"}, {"dry-run", "all-cards"},
       {"dry-run", "json"}},
      "0 success, 1 the ingestion failed or could not start (a folder missing or unusable,\n"
      "an unknown macro with --strict), 2 bad usage (an unknown option, a value out of range,\n"
      "options that exclude each other, no card, no archive folder, an unknown preset).",
      run_ingest,
  };
  return spec;
}

}  // namespace cw::app
