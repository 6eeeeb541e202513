// Raw verification with the raw decoder library: open, unpack, and listen for data errors.
//
// The library reports data it cannot use (a read past the end of the file, a damaged block)
// through a callback and often goes on, filling the gap; for verification either is damage.
// Its own callbacks would print to standard error, so ours replaces the data callback and the
// memory one is switched off (a failed allocation also comes back as an error code).
#include "ingest/raw_verify.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <libraw/libraw.h>

namespace cw {
namespace {

struct DataErrors {
  int count = 0;
  char first[96] = "";
};

void on_data_error(void* data, const char*, const int offset) {
  auto* errors = static_cast<DataErrors*>(data);
  if (errors->count++ > 0) return;
  if (offset < 0)
    std::snprintf(errors->first, sizeof errors->first, "unexpected end of the image data");
  else
    std::snprintf(errors->first, sizeof errors->first, "damaged image data at byte %d", offset);
}

// The decoder with its scratch buffers zeroed. Some of its loaders read past what a cut-short
// file filled in (the Panasonic one does), and the library leaves those buffers as the heap
// left them: its verdict on such a file would change from run to run.
class Decoder : public LibRaw {
 public:
  Decoder() : LibRaw(LIBRAW_OPIONS_NO_MEMERR_CALLBACK) {
    std::memset(static_cast<void*>(tls), 0, sizeof *tls);
    tls->init();
  }
};

// The decoder's answers to unpacking that mean "no decoder for this kind of data", as opposed
// to "broken data".
bool means_unknown(int code) {
  return code == LIBRAW_FILE_UNSUPPORTED || code == LIBRAW_NOT_IMPLEMENTED;
}

}  // namespace

RawCheck check_raw(const std::string& path) {
  RawCheck check;
  // The decoder's state is large (tables for every format): it lives on the heap.
  const std::unique_ptr<Decoder> raw(new (std::nothrow) Decoder);
  if (!raw) {
    check.message = "not enough memory for the raw decoder";
    return check;
  }
  DataErrors errors;
  raw->set_dataerror_handler(on_data_error, &errors);
  // A file the decoder cannot open as a raw of a camera it knows (an unknown format, a name
  // that only looks like a raw's, or a file too broken to recognise) is not its to judge.
  int code = raw->open_file(path.c_str());
  if (code != LIBRAW_SUCCESS) {
    check.message = libraw_strerror(code);
    return check;
  }
  code = raw->unpack();
  if (means_unknown(code)) {
    check.message = libraw_strerror(code);
    return check;
  }
  if (code == LIBRAW_SUCCESS && errors.count == 0) {
    check.verdict = RawVerdict::kSound;
    return check;
  }
  check.verdict = RawVerdict::kCorrupt;
  check.message = errors.count > 0 ? errors.first : libraw_strerror(code);
  return check;
}

}  // namespace cw
