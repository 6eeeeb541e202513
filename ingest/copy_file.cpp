// copy_file: examine, open the source, copy in chunks into a file without a name (or under a
// temporary name where the folder cannot hold such files), keep the time, check the size,
// name it (move it into place).
#include "ingest/copy_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/copy_io.h"
#include "ingest/staged_file.h"

namespace cw {

namespace {

std::string folder_of(const std::string& path) {
  std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

bool refuse(RunReporter& reporter, const std::string& target) {
  reporter.report_printf("\nAttempt to overwrite file %s\n", target.c_str());
  return reporter.fail(text_with_path("will not overwrite file", target));
}

bool move_bytes(RunState& state, RunReporter& reporter, UniqueFd& in, StagedFile& out,
                const std::string& source, const std::string& target, ContentHasher* hasher) {
  switch (copy_fd(state, reporter, in.get(), out.fd(), target, hasher)) {
    case CopyOutcome::kOk: break;
    case CopyOutcome::kStopped: return reporter.fail("Stopped");
    case CopyOutcome::kReadError:
      return reporter.fail(text_with_path("read error copying file", source));
    case CopyOutcome::kWriteError:
      return reporter.fail(
          text_with_path("write error -- check drives for sufficient space", target));
  }
  return true;
}

}  // namespace

bool copy_file(RunState& state, RunCounters& counts, RunReporter& reporter,
               const std::string& source, const std::string& target, bool count,
               bool refuse_overwrite, bool tolerate_unreadable, CopyHash* hash) {
  // The source is examined through its descriptor; its path is looked at again only to say
  // why it could not be opened.
  bool regular = false;
  struct stat src;
  UniqueFd in(open_regular_file(source, regular, &src));
  const int open_error = errno;
  if (!in.valid() && sysio().stat(source.c_str(), &src) != 0) {
    if (tolerate_unreadable) {
      log_printf("Can't get stat info for path: \"%s\" (probably an unreadable file)",
                 source.c_str());
      return true;
    }
    reporter.report_printf("Can't get stat info for path: \"%s\" (probably an unreadable file)",
                           source.c_str());
    return reporter.fail("error accessing path (see message above)");
  }
  if (!ensure_read_buffer(state)) return reporter.fail("can't alloc read buffer");
  if (!in.valid()) {
    reporter.report_printf("From path: %s; errno = %d", source.c_str(), regular ? open_error : 0);
    return reporter.fail(
        text_with_path(regular ? "can't open file for reading" : "not a regular file", source));
  }
  // Through the run's descriptor of the target's folder: the copy is written without a name
  // and linked under its own once whole, so the folder gains one entry instead of a temporary
  // one made and removed, which costs the most in the large folders of a large card.
  StagedFile out;
  const std::string folder = folder_of(target);
  if (!out.create(folder, state.target_folders.get(folder))) {
    reporter.report_append(target);
    return reporter.fail(text_with_path("can't open file for writing", target));
  }
  ContentHasher hasher;
  const bool hashing = hash && !hash->known;
  if (!move_bytes(state, reporter, in, out, source, target, hashing ? &hasher : nullptr))
    return false;
  // A source whose hash is known is a copy made before (by now mostly read back, so on the
  // disk): read into the cache again for this copy and not read after it, its pages leave the
  // cache, or the first copies of a large card would fill the memory. Other sources (sidecars
  // written moments ago) may still wait to be written, which dropping their pages would start
  // here, on the copying thread, one small write at a time.
  if (hash && hash->known) ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_DONTNEED);
  struct stat written;
  if (sysio().fstat(out.fd(), &written) != 0) {
    reporter.report_printf("%s\n", target.c_str());
    return reporter.fail(text_with_path("stat unconverted target", target));
  }
  if (written.st_size != src.st_size) {
    reporter.report_printf("%s\n", target.c_str());
    return reporter.fail(text_with_path("Written file is wrong size.", target));
  }
  if (!set_fd_times(out.fd(), src.st_mtime))
    reporter.report_printf("Not setting access and modification times for:\n%s\n", target.c_str());
  if (in.close() != 0 || out.close(static_cast<std::uint64_t>(written.st_size)) != 0)
    return reporter.fail(text_with_path("close error copying file", target));
  // Refusing to overwrite, the move fails on a file that is there (it is not looked for
  // before the copy: that would cost every copy one more lookup of its path).
  if (!out.commit(target, !refuse_overwrite, hash ? &hash->named : nullptr)) {
    if (errno == EEXIST) return refuse(reporter, target);
    reporter.report_printf("\nCan't move %s to %s: errno = %d\n", out.temp_path().c_str(),
                           target.c_str(), errno);
    return reporter.fail(text_with_path("can't open file for writing", target));
  }
  state.disk_flush.note(folder_of(target));
  if (hash) {
    hash->written = hashing ? hasher.digest() : *hash->known;
    hash->size = static_cast<std::uint64_t>(written.st_size);
    hash->copied = true;
  }
  if (count) ++counts.copied_without_conversion;
  return true;
}

}  // namespace cw
