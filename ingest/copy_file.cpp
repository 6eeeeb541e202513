// copy_file: examine, create, copy in chunks, keep the time, check the size.
#include "ingest/copy_file.h"

#include <fcntl.h>

#include <cerrno>

#include "foundation/log.h"
#include "foundation/sysio.h"
#include "ingest/copy_io.h"

namespace cw {

namespace {

bool open_pair(EngineContext& ctx, const std::string& source, const std::string& target,
               bool refuse_overwrite, UniqueFd& in, UniqueFd& out) {
  // Refusing to overwrite creates exclusively, so a file that appears after the check is
  // never replaced either.
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (refuse_overwrite ? O_EXCL : 0);
  out.reset(sysio().open(target.c_str(), flags, 0666));
  if (!out.valid()) {
    if (refuse_overwrite && errno == EEXIST) {
      ctx.report_printf("\nAttempt to overwrite file %s\n", target.c_str());
      return ctx.fail("will not overwrite file");
    }
    ctx.report_append(target);
    return ctx.fail("can't open file for writing");
  }
  in.reset(sysio().open(source.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!in.valid()) {
    ctx.report_printf("From path: %s; errno = %d", source.c_str(), errno);
    return ctx.fail("can't open file for reading");
  }
  return true;
}

bool move_bytes(EngineContext& ctx, UniqueFd& in, UniqueFd& out, const std::string& target) {
  switch (copy_fd(ctx, in.get(), out.get(), target)) {
    case CopyOutcome::kOk: break;
    case CopyOutcome::kStopped: return ctx.fail("Stopped");
    case CopyOutcome::kReadError: return ctx.fail("read error copying file");
    case CopyOutcome::kWriteError:
      return ctx.fail("write error -- check drives for sufficient space");
  }
  int rc_in = in.close();
  int rc_out = out.close();
  if (rc_in != 0 || rc_out != 0) return ctx.fail("close error copying file");
  return true;
}

}  // namespace

bool copy_file(EngineContext& ctx, const std::string& source, const std::string& target,
               bool count, bool refuse_overwrite, bool tolerate_unreadable) {
  struct stat src;
  if (sysio().stat(source.c_str(), &src) != 0) {
    if (tolerate_unreadable) {
      log_printf("Can't get stat info for path: \"%s\" (probably an unreadable file)",
                 source.c_str());
      return true;
    }
    ctx.report_printf("Can't get stat info for path: \"%s\" (probably an unreadable file)",
                      source.c_str());
    return ctx.fail("error accessing path (see message above)");
  }
  if (!ensure_read_buffer(ctx)) return ctx.fail("can't alloc read buffer");
  struct stat existing;
  if (refuse_overwrite && sysio().stat(target.c_str(), &existing) == 0) {
    ctx.report_printf("\nAttempt to overwrite file %s\n", target.c_str());
    return ctx.fail("will not overwrite file");
  }
  UniqueFd in, out;
  if (!open_pair(ctx, source, target, refuse_overwrite, in, out)) return false;
  if (!move_bytes(ctx, in, out, target)) return false;
  if (!set_file_times(target, src.st_mtime))
    ctx.report_printf("Not setting access and modification times for:\n%s\n", target.c_str());
  struct stat written;
  if (sysio().stat(target.c_str(), &written) != 0) {
    ctx.report_printf("%s\n", target.c_str());
    return ctx.fail("stat unconverted target");
  }
  if (written.st_size != src.st_size) {
    ctx.report_printf("%s\n", target.c_str());
    return ctx.fail("Written file is wrong size.");
  }
  if (count) ++ctx.counts.copied_without_conversion;
  return true;
}

}  // namespace cw
