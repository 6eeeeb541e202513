// Raw verification through the raw decoder module, loaded the first time it is needed.
#include "ingest/raw_verify.h"

#include "ingest/raw_decoder.h"
#include "platform/paths.h"
#include "platform/shared_library.h"

namespace cw {
namespace {

#define CW_RAW_DECODER_FUNCTIONS(X) X(cw_unpack_raw)
CW_LIBRARY_TABLE(RawDecoder, CW_RAW_DECODER_FUNCTIONS);

}  // namespace

RawCheck check_raw(const std::string& path) {
  RawCheck check;
  static const std::string module = program_module_path(kRawDecoderModule);
  std::string error;
  const RawDecoder* decoder = library_functions<RawDecoder>(module.c_str(), error);
  if (!decoder) {
    // Without its decoder no raw can be judged: each says so, none is called sound.
    check.message = error;
    check.no_decoder = true;
    return check;
  }
  char message[256] = "";
  switch (decoder->cw_unpack_raw(path.c_str(), message, sizeof message)) {
    case kRawUnpackSound: check.verdict = RawVerdict::kSound; break;
    case kRawUnpackCorrupt: check.verdict = RawVerdict::kCorrupt; break;
    default: check.verdict = RawVerdict::kUnknown; break;
  }
  check.message = message;
  return check;
}

}  // namespace cw
