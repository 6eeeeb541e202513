// Fuzz target for the macro expander and strptime.
//
// The first byte picks the mode: bit 0 the XML flag, bit 1 strptime instead of the expander
// (format and text separated by a line feed), bit 2 an image with EXIF dates, bit 3 the text
// after the first NUL as stored vocabulary values, one per line. The environment's values
// themselves hold macros, so that nesting, lists and filenamenew are reached.
// Run: fuzz_macro -dict=fuzz/fuzz_macro.dict -max_len=4096 CORPUS_DIR
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "metadata/macro.h"
#include "metadata/strptime.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

cw::MemoryMacroEnvironment make_environment() {
  using cw::IptcPreset;
  using cw::PresetValue;
  cw::MemoryMacroEnvironment env;
  env.notes = "note {@qf.a} & <x>";
  env.set_master("FilenamePrefix", PresetValue::of("KTP"));
  env.set_master("qf_a", PresetValue::of("{@qf.b};{@filename,-2}"));
  env.set_master("qf_b", PresetValue::of("{@qf.a},{@iptc.Keywords}"));
  env.set_master("qf_n", PresetValue::other());
  env.set_master("NameFormat", PresetValue::of("{@prefix,1,-1,_}{@qf.a}{@filenamenew}"));
  env.set_master("LastDB_client", PresetValue::of("Ann's"));
  env.set_iptc(IptcPreset::Photographer, "Keywords", PresetValue::of(" a ; b,{@notes} ,"));
  env.set_iptc(IptcPreset::Content, "People", PresetValue::of("Tom & Jerry;<rdf:li>"));
  env.set_iptc(IptcPreset::Rights, "Caption", PresetValue::of("{@keywords}"));
  env.database["select name from client where name = 'Ann''s'"] = "{@client.name} Ann";
  for (const char* v : {"01  Catalog Sets", "02  Trips", "03* Rome", "01 +Keywords",
                        "05* Deep", "02* Dog"})
    env.vocabulary.push_back(PresetValue::of(v));
  env.images["/img.nef"] = {{"DateTimeOriginal", "2011:03:05 14:22:33"},
                            {"DateTimeDigitized", "9999:99:99 99:99:99"},
                            {"DateTimeChanged", "-2147483648:0:0 0:0:0"},
                            {"Make", "NIKON CORPORATION"}};
  return env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const unsigned mode = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  if (mode & 2) {
    std::size_t nl = text.find('\n');
    std::string format = text.substr(0, nl);
    std::string input = nl == std::string::npos ? std::string() : text.substr(nl + 1);
    std::tm tm{};
    cw::strptime(input.c_str(), format.c_str(), &tm);
    return 0;
  }

  static cw::MemoryMacroEnvironment base = make_environment();
  cw::MemoryMacroEnvironment env = base;
  if (mode & 8) {
    std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
      std::string vocabulary = text.substr(nul + 1);
      text.resize(nul);
      env.vocabulary.clear();
      std::size_t from = 0;
      while (from <= vocabulary.size()) {
        std::size_t nl = vocabulary.find('\n', from);
        if (nl == std::string::npos) nl = vocabulary.size();
        env.vocabulary.push_back(cw::PresetValue::of(vocabulary.substr(from, nl - from)));
        from = nl + 1;
      }
    }
  }

  cw::MacroInputs in;
  in.cur_filename = "DSC_0123";
  in.cur_datetime = (mode & 16) ? "YYYYMMDD_hhmmss" : "20110305_142233";
  in.cur_sequence = "000042";
  in.unique_id = "ABCDEF0123456";
  in.number_range = "#NNN-RRR#";
  in.ext = "NEF";
  if (mode & 4) in.cur_path = "/img.nef";
  if (mode & 32) in.cur_relPath = "DCIM/100NIKON";
  in.xml = (mode & 1) != 0;

  std::string out;
  cw::macro_process_with_data(text, out, in, env);
  return 0;
}
