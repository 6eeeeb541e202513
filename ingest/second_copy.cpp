// Second copy by folder runs, and the third copy.
#include "ingest/second_copy.h"

#include <sys/stat.h>

#include <algorithm>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "ingest/copy_file.h"

namespace cw {

namespace {

std::size_t last_separator(const std::string& s) { return s.find_last_of("/\\"); }

bool has_converter(const EngineContext& ctx) {
  return ctx.converter_path && !ctx.converter_path->empty() && *ctx.converter_path != "none";
}

void announce(EngineContext& ctx) {
  ctx.raws_converted = 0;
  if (has_converter(ctx)) {
    log_printf("DNG conversion is not available in this build; copying raw files unchanged");
    ctx.report_append("DNG conversion is not available yet; raw files are copied unchanged\n");
  } else {
    ctx.report_append("Skipping Adobe DNG Converter\n");
  }
  ctx.status_set("Copying images to primary folder(s)");
  ctx.report_append("\n");
}

// Copies one folder's first copies unchanged into `destination`.
bool copy_folder(EngineContext& ctx, const std::vector<const std::string*>& files,
                 const std::string& destination) {
  ctx.control().add_burn_folder(BurnList::kPrimary, destination);
  if (!make_folders(ctx, destination)) return false;
  for (const std::string* file : files) {
    std::string name = file->substr(last_separator(*file) + 1);
    std::string target = destination + "/" + name;
    ctx.status_printf("2nd copy: %s", name.c_str());
    if (!copy_file(ctx, *file, target, true, true, false)) return false;
    if (!copy_to_post_backup(ctx, target)) return false;
  }
  return true;
}

// The primary folder for a folder of the first-copy tree.
std::string destination_for(const EngineContext& ctx, const std::string& first_copy,
                            const std::string& folder) {
  std::size_t root = ctx.first_copy_root.size();
  std::string destination = *ctx.primary_root;
  if (root >= first_copy.size() || !is_separator(first_copy[root])) destination += '/';
  if (folder.size() > root) destination += folder.substr(root);
  return destination;
}

}  // namespace

bool copy_to_primary(EngineContext& ctx, std::string& message) {
  message.clear();
  announce(ctx);
  ctx.sorted_first_copies.clear();
  for (const ImageRecord& r : ctx.images)
    if (!r.first_copy_path.empty()) ctx.sorted_first_copies.push_back(&r.first_copy_path);
  std::sort(ctx.sorted_first_copies.begin(), ctx.sorted_first_copies.end(),
            [](const std::string* a, const std::string* b) { return *a < *b; });
  const auto& sorted = ctx.sorted_first_copies;
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t sep = last_separator(*sorted[i]);
    if (sep == std::string::npos) return ctx.fail("copy_to_primary - can't locate last slash");
    std::string folder = sorted[i]->substr(0, sep);
    std::vector<const std::string*> run;
    // Byte order keeps the files of one folder together.
    for (; i < sorted.size() && last_separator(*sorted[i]) == sep &&
           sorted[i]->compare(0, sep, folder) == 0;
         ++i)
      run.push_back(sorted[i]);
    std::string destination = destination_for(ctx, *run.front(), folder);
    if (!copy_folder(ctx, run, destination)) return false;
    ctx.destination_folder = destination;
  }
  return true;
}

bool copy_to_post_backup(EngineContext& ctx, const std::string& primary_file) {
  if (!ctx.want_backup_post || !ctx.post_backup_root || !ctx.primary_root) return true;
  std::string post = *ctx.post_backup_root + primary_file.substr(ctx.primary_root->size());
  std::size_t sep = last_separator(post);
  if (!make_folders(ctx, post.substr(0, sep))) return false;
  ctx.status_printf("3rd copy: %s", post.c_str() + sep + 1);
  if (!copy_file(ctx, primary_file, post, false, true, true)) return false;
  std::size_t dot = primary_file.rfind('.');
  if (dot == std::string::npos || dot < last_separator(primary_file) ||
      primary_file.size() - dot - 1 < 3)
    return true;
  std::string sidecar = primary_file.substr(0, dot) + ".xmp";
  struct stat st;
  if (::stat(sidecar.c_str(), &st) != 0) return true;
  std::string post_sidecar = post.substr(0, post.rfind('.')) + ".xmp";
  return copy_file(ctx, sidecar, post_sidecar, false, false, true);
}

}  // namespace cw
