// Sidecar placement for one copied image: copy the card's own sidecar, or build one from the
// metadata template and develop settings, never replacing a sidecar already at the target.
#include "ingest/sidecar_placement.h"

#include <dirent.h>
#include <sys/stat.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string_view>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/card_layout.h"
#include "ingest/copy_file.h"
#include "ingest/copy_io.h"
#include "ingest/format_verdict.h"
#include "ingest/run_ledger.h"
#include "ingest/run_metadata.h"
#include "ingest/staged_file.h"
#include "metadata/sidecar.h"
#include "platform/paths.h"

namespace cw {

namespace {

// A regular file itself: a card's symbolic link is never followed.
bool is_file(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ends_with_xmp(const std::string& path) {
  if (path.size() < 3) return false;
  std::string tail = path.substr(path.size() - 3);
  for (char& c : tail) c = static_cast<char>(c | 0x20);
  return tail == "xmp";
}

// An extension as cameras and tools write them: letters and digits only (not the "-cwtmp" of
// a merge in progress), and not the sidecar's own.
bool is_image_extension(std::string_view ext) {
  const bool sidecar = ext.size() == 3 && strncasecmp(ext.data(), "xmp", 3) == 0;
  return !ext.empty() && !sidecar &&
         std::all_of(ext.begin(), ext.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

bool is_jpg_name(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".jpg") == 0;
}

// A sidecar that exists (the card's, or one beside another copy of the image) placed beside an
// archived copy as a built one is: under a temporary name, never over anything, with the time
// of the sidecar it copies.
SidecarPlacement place_copied_sidecar(std::mutex& placement, const std::string& from,
                                      const std::string& folder, const std::string& target) {
  SidecarPlacement p;
  p.target = target;
  std::ifstream in(from, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  struct stat st;
  if (!in || ::stat(from.c_str(), &st) != 0) {
    p.target = from;
    p.failure = "can't read sidecar";
    return p;
  }
  p = place_sidecar_text(placement, folder, target, text.str());
  if (p.outcome == SidecarOutcome::kCreated) set_file_times(target, st.st_mtime);
  return p;
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// The companions of an archived clip that its copies lack, copied from the card's.
void complete_archived_companions(EngineContext& ctx, const ImageRecord& r,
                                  const std::vector<const LedgerCopy*>& copies) {
  const std::vector<ClipCompanion> companions = clip_companions(r.source_path());
  for (const LedgerCopy* copy : copies) {
    if (copy->state == CopyState::kConverted) continue;
    for (const ClipCompanion& c : companions) {
      const std::string target = companion_beside(copy->path, c.suffix);
      if (path_exists(target)) continue;
      const std::size_t sep = target.find_last_of('/');
      const std::string folder = sep == std::string::npos ? "." : target.substr(0, sep);
      const SidecarPlacement placed =
          place_copied_sidecar(ctx.control().placement_lock(), c.path, folder, target);
      if (placed.outcome == SidecarOutcome::kFailed) {
        ctx.image_failed(placed.failure, placed.target);
        return;
      }
      if (placed.outcome == SidecarOutcome::kCreated) {
        ctx.disk_flush.note(folder);
        log_printf("\tCompanion of an archived copy completed: %s", target.c_str());
      }
    }
  }
}

}  // namespace

bool takes_sidecar(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
    return false;
  const std::string_view extension = path.substr(dot + 1);
  return extension.size() == 3 || is_long_sidecar_extension(extension);
}

namespace {

// The card's sidecar of `source`: its stem with ".xmp" or ".XMP", the first that `may_be`
// admits and that is a file.
template <typename MayBe>
std::optional<std::string> source_sidecar(const std::string& source, MayBe&& may_be) {
  if (!takes_sidecar(source)) return std::nullopt;
  const std::string stem = source.substr(0, source.rfind('.'));
  // Cameras write the extension in capitals; the file system tells the cases apart.
  for (const char* ext : {".xmp", ".XMP"}) {
    std::string candidate = stem + ext;
    if (may_be(candidate) && is_file(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> existing_source_sidecar(const std::string& source) {
  return source_sidecar(source, [](const std::string&) { return true; });
}

std::optional<std::string> CardSidecars::find(const std::string& source) {
  return source_sidecar(source, [this](const std::string& candidate) { return listed(candidate); });
}

bool CardSidecars::listed(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;
  if (path.compare(0, slash + 1, folder_) != 0) {
    folder_ = path.substr(0, slash + 1);
    names_.clear();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
    listed_ = dir != nullptr;
    if (listed_) {
      while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.ends_with(".xmp") || name.ends_with(".XMP")) names_.emplace_back(name);
      }
      std::sort(names_.begin(), names_.end());
    }
  }
  return !listed_ ||
         std::binary_search(names_.begin(), names_.end(), std::string_view(path).substr(slash + 1));
}

bool wants_sidecar(const RunOptions& options, const std::string& source, const std::string& copy) {
  if (!takes_sidecar(copy) || ends_with_xmp(copy)) return false;
  if (options.xmp_to_jpg && is_jpg_name(copy)) return false;
  return !options.sidecar_template.empty() || existing_source_sidecar(source).has_value();
}

std::string sidecar_beside(const std::string& copy) {
  const std::size_t dot = copy.rfind('.');
  const bool has_extension = dot != std::string::npos && copy.find('/', dot) == std::string::npos;
  return copy.substr(0, has_extension ? dot + 1 : copy.size() - 3) + "xmp";
}

bool companions_in_place(const ImageRecord& r, const LedgerCopy& copy) {
  if (copy.state == CopyState::kConverted) return true;
  for (const ClipCompanion& c : clip_companions(r.source_path()))
    if (!is_file(companion_beside(copy.path, c.suffix))) return false;
  return true;
}

void complete_archived_sidecars(EngineContext& ctx, const ImageRecord& r) {
  if (r.ledger < 0) return;
  const LedgerEntry& e = ctx.ledger.at(static_cast<std::size_t>(r.ledger));
  // The copies of the image in the run's trees, and a sidecar one of them has already: the
  // one the others get, as a later copy gets the first copy's.
  std::vector<const LedgerCopy*> copies;
  std::optional<std::string> model;
  for (const CopyTree tree : wanted_trees(ctx)) {
    const std::optional<std::size_t> c =
        copy_in_tree(e, tree_root(ctx.options(), ctx.state(), tree));
    if (!c) continue;
    copies.push_back(&e.copies[*c]);
    const std::string beside = sidecar_beside(e.copies[*c].path);
    if (!model && e.copies[*c].path.size() >= 4 && is_file(beside)) model = beside;
  }
  complete_archived_companions(ctx, r, copies);
  for (const LedgerCopy* copy : copies) {
    if (sidecar_in_place(ctx.options(), ctx.ledger, r, *copy)) continue;
    const std::string target = sidecar_beside(copy->path);
    if (path_exists(target)) continue;  // something else holds its name: the verdict says so
    const std::size_t sep = target.find_last_of('/');
    const std::string folder = sep == std::string::npos ? "." : target.substr(0, sep);
    if (!model) model = existing_source_sidecar(r.source_path());
    SidecarPlacement placed;
    if (model) {
      placed = place_copied_sidecar(ctx.control().placement_lock(), *model, folder, target);
    } else {
      const std::string date = sidecar_date_text(r.capture_time());
      std::string text, message;
      bool built;
      {
        RunMetadata& metadata = ctx.metadata();
        auto held = metadata.hold();
        built = sidecar_text(ctx.sidecar_template, ctx.raw_settings_path, r.base_name, date,
                             r.number_text, r.source_path(), metadata.environment(),
                             metadata.sidecars(), text, message);
      }
      if (!built) {
        placed.target = target;
        placed.failure = message;
      } else if (text.empty()) {
        return;  // the settings hold nothing for this image
      } else {
        placed = place_sidecar_text(ctx.control().placement_lock(), folder, target, text);
      }
    }
    switch (placed.outcome) {
      case SidecarOutcome::kCreated:
        ctx.disk_flush.note(folder);
        log_printf("\tSidecar of an archived copy completed: %s", target.c_str());
        if (!model) model = target;
        break;
      case SidecarOutcome::kExisted: break;
      case SidecarOutcome::kFailed: ctx.image_failed(placed.failure, placed.target); return;
    }
  }
}

bool merge_pending(const RunOptions& options, const RunLedger& ledger, const ImageRecord& r,
                   const LedgerCopy& copy) {
  if (!options.xmp_to_jpg || copy.tree != CopyTree::kFirst || !is_jpg_name(copy.path) ||
      r.ledger < 0 || !copy.hash)
    return false;
  if (*copy.hash != ledger.at(static_cast<std::size_t>(r.ledger)).hash) return false;
  return !options.sidecar_template.empty() || existing_source_sidecar(r.source_path()).has_value();
}

bool sidecar_in_place(const RunOptions& options, const RunLedger& ledger, const ImageRecord& r,
                      const LedgerCopy& copy) {
  // A DNG made from a raw (and its third copy) is the converter's: it has no sidecar of its own.
  const std::size_t dot = copy.path.rfind('.');
  if (copy.state == CopyState::kConverted || dot == std::string::npos ||
      strcasecmp(copy.path.c_str() + dot + 1, r.extension().c_str()) != 0)
    return true;
  // The archive is asked first: the card only when the sidecar is not there.
  if (is_file(sidecar_beside(copy.path))) return true;
  return !merge_pending(options, ledger, r, copy) &&
         !wants_sidecar(options, r.source_path(), copy.path);
}

bool builds_sidecars(const RunOptions& options) {
  return !options.sidecar_template.empty() || !options.raw_settings_path.empty();
}

namespace {

// The clip's companions beside its copy `target`, copied from those beside `source` (the
// card's clip, or the copy a later copy is made from) as a card's sidecar is: not counted,
// never over anything, an unreadable one a failure.
bool carry_companions(EngineContext& ctx, const std::string& source, const std::string& target,
                      bool first_copy) {
  for (const ClipCompanion& c : clip_companions(source)) {
    const std::string beside = companion_beside(target, c.suffix);
    if (path_exists(beside)) {
      if (first_copy) log_printf("\tDestination companion %s already exists.", beside.c_str());
      continue;
    }
    if (!copy_file(ctx.state(), ctx.counts, ctx, c.path, beside, false, true, false))
      return ctx.fail(text_with_path("Can't copy clip companion", beside));
    if (first_copy) log_printf("\tCopied clip companion %s from source.", c.path.c_str());
  }
  return true;
}

bool place_sidecar(EngineContext& ctx, const std::string& source, const std::string* base_name,
                   const std::string* date_text, const std::string* number_text,
                   bool first_copy, const std::string& target, PreparedSidecar* prepared,
                   SidecarWorker* placer) {
  std::optional<std::string> source_sidecar;
  try {
    source_sidecar = prepared ? prepared->source_sidecar : existing_source_sidecar(source);
  } catch (const std::bad_alloc&) {
    return ctx.fail("realloc");
  }
  // The target is itself a sidecar that travels with its image.
  if (source_sidecar && ends_with_xmp(target)) return true;
  // A later copy of a JPEG that got its XMP merged carries it inside.
  if (!first_copy && !source_sidecar && ctx.xmp_to_jpg && is_jpg_name(target)) return true;
  // Only a three-character extension, or one of today's longer ones, has a sidecar name
  // beside it (not ".JPEG", ".tiff").
  if (!takes_sidecar(target)) return true;

  std::string target_sidecar;
  try {
    target_sidecar = sidecar_beside(target);
  } catch (const std::bad_alloc&) {
    return ctx.fail("create_sidecar: malloc");
  }

  // A sidecar built from the template is placed without replacing anything, which tells
  // whether one exists already; the others are looked for first.
  const bool builds = !source_sidecar && builds_sidecars(ctx) &&
                      (ctx.sidecar_template.empty() || base_name);
  if (!builds && path_exists(target_sidecar)) {
    if (first_copy) log_printf("\tDestination sidecar already exists.");
    return true;
  }

  if (source_sidecar) {
    if (!copy_file(ctx.state(), ctx.counts, ctx, *source_sidecar, target_sidecar, false, true,
                   false))
      return ctx.fail(text_with_path("Can't copy existing sidecar", target_sidecar));
    if (first_copy) log_printf("\tCopied existing sidecar from source.");
    return true;
  }

  if (!ctx.sidecar_template.empty() && !base_name) {
    // A file the run knows nothing of: nothing to build its sidecar from. The copy stays; the
    // line names where its sidecar is missing.
    const std::string line =
        text_with_path("sidecar_copy has no access to per-image metadata", target_sidecar);
    log_printf("%s", line.c_str());
    ctx.report += "WARNING: " + line + "\n";
    return true;
  }

  // Nothing to build from: nothing is written.
  if (!builds_sidecars(ctx)) return true;
  // Written under a temporary name and moved into place complete, never over a sidecar that
  // another run placed meanwhile.
  static const std::string none;
  std::string text, msg;
  bool built;
  if (prepared && prepared->built) {
    text = std::move(prepared->text);
    msg = std::move(prepared->message);
    built = prepared->ok;
  } else {
    RunMetadata& metadata = ctx.metadata();
    auto held = metadata.hold();
    built = sidecar_text(ctx.sidecar_template, ctx.raw_settings_path,
                         base_name ? *base_name : none, date_text ? *date_text : none,
                         number_text ? *number_text : none, source, metadata.environment(),
                         metadata.sidecars(),
                         text, msg);
  }
  if (!built) return ctx.fail(text_with_path(msg, target_sidecar));
  // A settings file without settings writes nothing, and nothing is placed.
  if (text.empty()) return true;
  const std::size_t sep = target_sidecar.find_last_of('/');
  const std::string folder = sep == std::string::npos ? "." : target_sidecar.substr(0, sep);
  ctx.disk_flush.note(folder);
  // Written ahead into this very folder, it is only moved into place.
  std::unique_ptr<StagedFile> staged;
  if (prepared && prepared->built && prepared->staged && prepared->staged_folder == folder)
    staged = std::move(prepared->staged);
  if (placer && placer->hand_over(folder, target_sidecar, text, staged)) return true;
  return note_placement(ctx,
                        place_sidecar_text(ctx.control().placement_lock(), folder, target_sidecar,
                                           text, ctx.target_folders.get(folder), staged.get()),
                        first_copy);
}

}  // namespace

bool create_sidecar(EngineContext& ctx, const std::string& source, const std::string* base_name,
                    const std::string* date_text, const std::string* number_text,
                    bool first_copy, const std::string& target,
                    PreparedSidecar* prepared, SidecarWorker* placer) {
  return carry_companions(ctx, source, target, first_copy) &&
         place_sidecar(ctx, source, base_name, date_text, number_text, first_copy, target,
                       prepared, placer);
}

bool settle_sidecar(EngineContext& ctx) {
  if (!ctx.sidecar_worker) return true;
  const std::optional<SidecarPlacement> placed = ctx.sidecar_worker->settle(ctx.target_folders);
  // Logged where it was placed: a failure alone is left to say.
  return !placed || placed->outcome != SidecarOutcome::kFailed || note_placement(ctx, *placed, true);
}

const char* write_staged_sidecar(StagedFile& staged, const std::string& folder,
                                 const std::string& text, int folder_fd) {
  if (!staged.create(folder, folder_fd)) return "can't open sidecar for writing";
  if (write_all(staged.fd(), text.data(), text.size()) != IoStatus::kOk || staged.close() != 0)
    return "error writing sidecar";
  return nullptr;
}

SidecarPlacement place_sidecar_text(std::mutex& placement, const std::string& folder,
                                    const std::string& target, const std::string& text,
                                    int folder_fd, StagedFile* staged) {
  SidecarPlacement p;
  p.target = target;
  StagedFile own;
  if (!staged) {
    staged = &own;
    if (const char* failure = write_staged_sidecar(own, folder, text, folder_fd)) {
      p.failure = failure;
      return p;
    }
  }
  std::lock_guard<std::mutex> lock(placement);
  if (staged->commit(target, false))
    p.outcome = SidecarOutcome::kCreated;
  else if (errno == EEXIST)
    p.outcome = SidecarOutcome::kExisted;
  else
    p.failure = "can't open sidecar for writing";
  return p;
}

void log_placement(const SidecarPlacement& p) {
  if (p.outcome == SidecarOutcome::kCreated) log_printf("\tCreated sidecar from template.");
  if (p.outcome == SidecarOutcome::kExisted) log_printf("\tDestination sidecar already exists.");
}

bool note_placement(RunReporter& reporter, const SidecarPlacement& p, bool first_copy) {
  if (p.outcome != SidecarOutcome::kFailed) {
    if (first_copy) log_placement(p);
    return true;
  }
  return reporter.fail(text_with_path(p.failure, p.target));
}

bool shares_sidecar(const std::string& image) {
  const std::size_t sep = image.rfind('/');
  const std::string folder = sep == std::string::npos ? "." : image.substr(0, sep);
  const std::string name = image.substr(sep == std::string::npos ? 0 : sep + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view stem(name.data(), dot + 1);  // with its dot
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* e = readdir(dir.get())) {
    const std::string_view other = e->d_name;
    if (other != name && other.starts_with(stem) && is_image_extension(other.substr(stem.size())))
      return true;
  }
  return false;
}

std::string metadata_template_path(const std::string& name_or_path) {
  if (name_or_path.find('/') != std::string::npos) return name_or_path;
  std::string path = program_data_folder() + "/" + name_or_path;
  bool has_ext = name_or_path.size() > 4 && ends_with_xmp(name_or_path) &&
                 name_or_path[name_or_path.size() - 4] == '.';
  return has_ext ? path : path + ".xmp";
}

}  // namespace cw
