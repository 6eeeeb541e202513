// The raw decoder module: the library opens and unpacks a raw while we listen for data errors.
//
// The library reports data it cannot use (a read past the end of the file, a damaged block)
// through a callback and often goes on, filling the gap; for verification either is damage.
// Its own callbacks would print to standard error, so ours replaces the data callback and the
// memory one is switched off (a failed allocation also comes back as an error code).
#include "ingest/raw_decoder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

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

int unpack(const char* path, std::string& message) {
  // The decoder's state is large (tables for every format): it lives on the heap.
  const std::unique_ptr<Decoder> raw(new (std::nothrow) Decoder);
  if (!raw) {
    message = "not enough memory for the raw decoder";
    return kRawUnpackUnknown;
  }
  DataErrors errors;
  raw->set_dataerror_handler(on_data_error, &errors);
  // A file the decoder cannot open as a raw of a camera it knows (an unknown format, a name
  // that only looks like a raw's, or a file too broken to recognise) is not its to judge.
  int code = raw->open_file(path);
  if (code != LIBRAW_SUCCESS) {
    message = libraw_strerror(code);
    return kRawUnpackUnknown;
  }
  code = raw->unpack();
  if (means_unknown(code)) {
    message = libraw_strerror(code);
    return kRawUnpackUnknown;
  }
  if (code == LIBRAW_SUCCESS && errors.count == 0) return kRawUnpackSound;
  message = errors.count > 0 ? errors.first : libraw_strerror(code);
  return kRawUnpackCorrupt;
}

}  // namespace
}  // namespace cw

extern "C" __attribute__((visibility("default"))) int cw_unpack_raw(const char* path, char* message,
                                                                    std::size_t size) {
  std::string why;
  int verdict = kRawUnpackUnknown;
  try {
    verdict = cw::unpack(path, why);
  } catch (const std::bad_alloc&) {
    why = "not enough memory for the raw decoder";
  }
  if (size > 0) std::snprintf(message, size, "%s", why.c_str());
  return verdict;
}
