// The counters of one ingestion run: what the report's summary, the command line's JSON and
// the desktop program's monitor all show, computed in one place.
#pragma once

namespace cw {

struct RunCounters {
  int files_found = 0;
  int raws_converted = 0;
  // Card files whose content the archive holds already or the card held before them: not
  // copied. Those found in the archive are also counted in already_archived.
  int duplicates = 0;
  int copied_without_conversion = 0;
  int jpegs_verified = 0;
  int jpegs_corrupt = 0;
  // JPEGs that decode only by filling in missing or garbled image data; a card holding one is
  // not to be formatted.
  int damaged_jpegs = 0;
  int raws_corrupt = 0;
  // Raws whose image data the raw decoder unpacked (runs without a converter).
  int raws_decoded = 0;
  int first_copies = 0;
  int skipped_by_extension = 0;
  // Card files the scan could not take (names or paths the archive cannot hold, entries it
  // cannot read); each is named in the report and keeps the card from being safe to format.
  int skipped_by_scan = 0;
  // AppleDouble companions ("._NAME") that another system leaves beside a card's files:
  // not images, left on the card.
  int resource_forks = 0;
  // What another system keeps for itself on a volume it has mounted (a folder's view settings,
  // its search index, its trash): no photographer's files, left on the card.
  int housekeeping = 0;
  // What a camera keeps beside its video clips (thumbnails, clip information, playlists),
  // which it rebuilds: left on the card without a warning.
  int camera_housekeeping = 0;
  int jpegs_extracted = 0;
  int gps_errors = 0;
  int gps_tagged = 0;
  int gps_out_of_interval = 0;
  int images_failed = 0;  // images the run could not copy while it went on
  int files_verified = 0;     // copies (one per tree) read back with their source's hash
  int already_archived = 0;   // images an earlier run had copied already
  int completed_earlier = 0;  // of those, images whose missing copies this run made
  // The converter only verified the raws (nothing counts as converted).
  bool verify_only = false;

  // Raws the converter turned into DNGs (none when it only verified them).
  int raws_converted_shown() const { return verify_only ? 0 : raws_converted; }
  // Raws found sound: by the converter, or without one by the raw decoder.
  int raws_verified() const { return raws_converted + raws_decoded; }
  // Duplicates of another file of the same card (the rest were found in the archive).
  int duplicates_on_card() const { return duplicates - already_archived; }
  // Files copied without error whose image data no decoder checked: videos, sound, and JPEGs
  // when their check is off. Their copies may still have been read back by checksum.
  int unverified() const {
    return files_found - raws_corrupt - raws_verified() - jpegs_verified - jpegs_corrupt -
           damaged_jpegs;
  }
};

}  // namespace cw
