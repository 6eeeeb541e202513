// extract_jpeg: preview choice through the camera-file reader, the new JPEG through the
// metadata writer. Holds the run's metadata lock throughout, as the run's other readers and
// writers of image metadata do.
#include "ingest/extract_jpeg.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "ingest/run_metadata.h"
#include "ingest/staged_file.h"
#include "metadata/jpeg_xmp.h"

namespace cw {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The path with the extension of its file name replaced (or, without one, appended).
std::string with_extension(const std::string& path, const char* extension) {
  std::size_t dot = path.rfind('.');
  std::size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) dot = path.size();
  return path.substr(0, dot) + extension;
}

// The EXIF entries the reader recorded from IFD0 and the EXIF directory.
std::vector<RecordedExifEntry> recorded_entries(const TV_Image& image) {
  std::vector<RecordedExifEntry> entries;
  for (const MacroPair& p : image.macro_pairs) {
    if (p.directory != kFromIFD0 && p.directory != kFromExif) continue;
    entries.push_back({p.name, p.value, p.tag, p.type, p.count, p.first_value, p.directory});
  }
  return entries;
}

// The preview's bytes, or false when the file has no JPEG preview or cannot be read.
bool find_preview(const std::string& source, std::vector<std::uint8_t>& jpeg,
                  std::vector<RecordedExifEntry>& entries) {
  TV_Reader reader(true);
  if (!reader.open(source, false, true, true)) return false;
  PreviewChoice choice = choose_preview(reader);
  if (!choice.directory || !choice.jpeg || !read_jpeg(reader, choice.directory, jpeg))
    return false;
  entries = recorded_entries(*reader.image());
  return true;
}

}  // namespace

bool extract_jpeg(EngineContext& ctx, const std::string* raw, const std::string& target) {
  if (!ctx.extract_jpg) return true;
  auto held = ctx.metadata().hold();
  const std::string& source = raw ? *raw : target;
  std::size_t sep = target.find_last_of("/\\");
  std::string folder = (sep == std::string::npos ? std::string(".") : target.substr(0, sep)) + "/JPEG";
  if (!make_folders(ctx, folder)) return false;
  // Noted now, so that the first extraction into the folder clears it of the temporary files
  // of a killed run's extractions.
  ctx.disk_flush.note(folder);
  std::string name = target.substr(sep == std::string::npos ? 0 : sep + 1);
  const std::string jpeg_path = folder + "/" + with_extension(name, ".jpg");
  const std::string sidecar = with_extension(target, ".xmp");
  log_printf("trying to extract %s to %s -- ", source.c_str(), jpeg_path.c_str());

  std::vector<std::uint8_t> jpeg;
  std::vector<RecordedExifEntry> entries;
  if (!find_preview(source, jpeg, entries)) {
    log_printf("JPEG not found (may be normal)\n");
    return true;
  }
  // Written without a name (or under a temporary one) and named only when complete; an
  // extracted JPEG already there (or any other file) stays as it is.
  StagedFile staged;
  const int fd = staged.create(folder) ? ::dup(staged.fd()) : -1;
  std::unique_ptr<std::FILE, FileCloser> out(fd >= 0 ? fdopen(fd, "wb") : nullptr);
  if (!out) {
    if (fd >= 0) ::close(fd);
    ctx.report_printf("\nCan't write %s\n", jpeg_path.c_str());
    ctx.fail(text_with_path("Can't write extracted JPEG file", jpeg_path));
    return true;
  }
  std::string message;
  bool written = write_jpeg_with_metadata(out.get(), jpeg.data(), jpeg.size(), entries, message,
                                          sidecar);
  if (std::fclose(out.release()) != 0 && written) {
    written = false;
    message = "Error writing JPEG file (8).";
  }
  if (!written) {
    log_printf("%s", message.c_str());
    ctx.report_printf("\n%s %s\n", message.c_str(), jpeg_path.c_str());
    return true;
  }
  bool placed = staged.close(jpeg.size()) == 0;
  if (placed) {
    // Another run of the batch may be naming a JPEG into the same folder.
    std::lock_guard<std::mutex> lock(ctx.control().placement_lock());
    placed = staged.commit(jpeg_path, false);
  }
  if (!placed) {
    ctx.report_printf("\nCan't write %s\n", jpeg_path.c_str());
    ctx.fail(text_with_path("Can't write extracted JPEG file", jpeg_path));
    return true;
  }
  log_printf("JPEG found\n");
  ++ctx.counts.jpegs_extracted;
  return true;
}

}  // namespace cw
