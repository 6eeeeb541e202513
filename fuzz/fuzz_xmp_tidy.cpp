// Fuzz target for the XML tree and sidecar tidying: the input is an expanded sidecar. Whatever
// it holds, parsing must end cleanly; a text that parses is written back byte for byte, and
// what tidying makes of it must parse again (tidying only takes nodes out and puts
// well-formed ones in).
// Run: fuzz_xmp_tidy -max_len=16384 CORPUS_DIR
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "metadata/xml_tree.h"
#include "metadata/xmp_tidy.h"

namespace {
constexpr std::size_t kMaxInput = 16384;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const std::optional<cw::XmlDocument> doc = cw::parse_xml(text, why);
  if (!doc) return 0;
  if (cw::write_xml(*doc) != text) std::abort();
  std::string tidied = text;
  if (!cw::tidy_sidecar_xmp(tidied, {"20240601_140322", "+02:00"}, why)) std::abort();
  if (!cw::parse_xml(tidied, why)) std::abort();
  return 0;
}
