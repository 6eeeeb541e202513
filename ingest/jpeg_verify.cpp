// Verifies a JPEG file by decoding it with libjpeg through its classic interface, with the
// library's error manager replaced so that nothing is printed on the console and a fatal
// error comes back here instead of ending the process.
//
// Speed: the decoder runs at 1/8 scale. Every block's entropy-coded data is still Huffman-
// (or arithmetic-) decoded in full, and the headers, tables, scans and sampling set-up go
// through the same checks as in a full-size decode, so the same corruptions stop it; only the
// inverse DCT, upsampling and colour conversion, which cannot fail on their own, run on 1/64
// of the pixels.
#include "ingest/jpeg_verify.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "foundation/log.h"

namespace cw {
namespace {

constexpr std::size_t kReadBufferSize = 1 << 20;

// Plain C data only: a fatal error longjmps out of libjpeg across these frames.
struct VerifyErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char fatal[JMSG_LENGTH_MAX];
  char first_warning[JMSG_LENGTH_MAX];
};

void on_fatal(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<VerifyErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->fatal);
  std::longjmp(err->jump, 1);
}

// Warnings (level -1) are counted; the first one's text is kept for the text pane, like the
// library's own policy of showing the first warning only. Trace messages are ignored.
void on_message(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<VerifyErrors*>(cinfo->err);
  if (level >= 0) return;
  if (err->pub.num_warnings == 0) (*cinfo->err->format_message)(cinfo, err->first_warning);
  err->pub.num_warnings++;
}

// Runs the decoder over the whole stream. Holds the setjmp frame and therefore owns no C++
// objects; all memory it uses belongs to the decoder's pools and goes with
// jpeg_destroy_decompress.
bool decode_all(jpeg_decompress_struct* cinfo, VerifyErrors* err, std::FILE* fp) {
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  jpeg_create_decompress(cinfo);
  jpeg_stdio_src(cinfo, fp);
  jpeg_read_header(cinfo, TRUE);
  cinfo->scale_num = 1;
  cinfo->scale_denom = 8;
  jpeg_start_decompress(cinfo);
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
      cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), 1);
  while (cinfo->output_scanline < cinfo->output_height) jpeg_read_scanlines(cinfo, row, 1);
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return true;
}

}  // namespace

bool verify_jpeg(const std::string& path) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) {
    std::fprintf(stderr, "can't open %s\n", path.c_str());
    return false;
  }
  std::setvbuf(fp, nullptr, _IOFBF, kReadBufferSize);

  jpeg_decompress_struct cinfo{};
  VerifyErrors err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = on_fatal;
  err.pub.emit_message = on_message;
  const bool ok = decode_all(&cinfo, &err, fp);
  std::fclose(fp);

  if (err.first_warning[0])
    ui_print(std::string("\nWARNING processing JPEG: ") + err.first_warning + " (" + path + ")\n");
  if (!ok) ui_print(std::string("\nERROR processing JPEG: ") + err.fatal + "\n");
  return ok;
}

}  // namespace cw
