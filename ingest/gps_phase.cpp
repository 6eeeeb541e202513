// GPS tagging of a run's images and its section of the report.
#include "ingest/gps_phase.h"

#include <map>
#include <memory>
#include <utility>

#include "foundation/path_guard.h"
#include "gps/tag_writer.h"
#include "ingest/copy_steps.h"

namespace cw {

namespace {

GpsTagCounts counts_of(const RunResult& result) {
  return GpsTagCounts{result.counts.gps_tagged, result.counts.gps_out_of_interval,
                      result.counts.gps_errors, result.gps_untaggable};
}

void keep_counts(EngineContext& ctx, GpsTagCounts& counts) {
  ctx.counts.gps_tagged = counts.tagged;
  ctx.counts.gps_out_of_interval = counts.out_of_interval;
  ctx.counts.gps_errors = counts.errors;
  ctx.gps_untaggable = std::move(counts.untaggable);
}

// The run's ExifTool process: started with the first image to tag, kept until the run ends.
TagWriter& writer_of(EngineContext& ctx) {
  if (!ctx.gps_writer) ctx.gps_writer = std::make_shared<TagWriter>(ctx.gps->exiftool);
  return *ctx.gps_writer;
}

// The run's GPS settings with the corrections of the camera clock some images have.
GpsRunSettings settings_of(const EngineContext& ctx) {
  GpsRunSettings settings = *ctx.gps;
  if (!ctx.gps_time_shifts.empty()) settings.image_adjustments = &ctx.gps_time_shifts;
  return settings;
}

StopSource stop_of(EngineContext& ctx) {
  return [&ctx] { return ctx.stop_requested(); };
}

// The copies due to change, by the path the system resolves.
std::map<std::string, CopyRef> changing_copies(EngineContext& ctx) {
  std::map<std::string, CopyRef> found;
  LedgerEntry scratch;
  for (std::size_t i = 0; i < ctx.ledger.size(); ++i) {
    const LedgerEntry& e = ctx.ledger.read(i, scratch);
    for (std::size_t k = 0; k < e.copies.size(); ++k)
      if (e.copies[k].state == CopyState::kChanging) found.emplace(e.copies[k].path, CopyRef{i, k});
  }
  return found;
}

}  // namespace

bool gps_tagging_enabled(const RunServices& services) {
  return services.gps && services.gps->tracks;
}

bool gps_tag_file(EngineContext& ctx, const std::string& file, std::optional<CopyRef> record) {
  if (!gps_tagging_enabled(ctx)) return true;
  if (record && !begin_copy_change(ctx.state(), ctx, *record, true)) return true;
  std::size_t sep = file.find_last_of("/\\");
  ctx.status_printf("GPS tagging: %s", file.c_str() + (sep == std::string::npos ? 0 : sep + 1));
  // A missing ExifTool is reported once, by the summary; here its images count as errors.
  GpsTagCounts counts = counts_of(ctx);
  std::string results;
  tag_image(settings_of(ctx), writer_of(ctx), file, counts, results, stop_of(ctx));
  if (record) end_copy_change(ctx.state(), ctx, *record);
  keep_counts(ctx, counts);
  ctx.report_append(results);
  return !ctx.stop_requested() || ctx.fail("Stopped");
}

bool gps_summary(EngineContext& ctx) {
  ctx.report_append("\nGPS Tagging:\n");
  if (!gps_tagging_enabled(ctx)) {
    // The window's menu and the command line's option, whichever program ran the ingestion.
    ctx.report_append(
        "\tDisabled (choose Tools > GPS Input..., or give --gps-track, to enable)\n\n");
    return true;
  }
  int n = static_cast<int>(ctx.gps_list.size());
  ctx.status_printf("GPS tagging: %d file%s", n, n == 1 ? "" : "s");
  GpsTagCounts counts = counts_of(ctx);
  std::string results;
  const std::map<std::string, CopyRef> changing = changing_copies(ctx);
  const auto tagged = [&ctx, &changing](const std::string& file, int done, int total) {
    const auto found = changing.find(real_path_of(file).value_or(file));
    if (found != changing.end()) end_copy_change(ctx.state(), ctx, found->second);
    (void)done, (void)total;
    ctx.progress_file_done(0);
  };
  if (n > 0) ctx.progress_begin(ProgressPhase::kTagging, n, 0);
  const bool ok = tag_images(settings_of(ctx), writer_of(ctx), ctx.gps_list, counts, results,
                             stop_of(ctx), tagged);
  ctx.gps_writer.reset();  // the run's last image is tagged: ExifTool ends now
  keep_counts(ctx, counts);
  ctx.report_append(results);
  if (ctx.stop_requested()) return ctx.fail("Stopped");
  // A missing ExifTool ends tagging before any image: there are no counts to show.
  if (!ok) return ctx.fail("Error performing GPS tagging");
  ctx.report_printf("\t%d tagged\n\t%d out of time interval\n\t%d error(s)\n",
                    ctx.counts.gps_tagged, ctx.counts.gps_out_of_interval, ctx.counts.gps_errors);
  ctx.report_append(untaggable_line(counts_of(ctx)));
  ctx.report_append("\n");
  return true;
}

}  // namespace cw
