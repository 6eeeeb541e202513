// Verifies a JPEG file by decoding it with libjpeg through its classic interface, with the
// library's error manager replaced so that nothing is printed on the console and a fatal
// error comes back here instead of ending the process.
//
// Speed: the decoder runs at 1/8 scale. Every block's entropy-coded data is still decoded in
// full, and the headers, tables, scans and sampling set-up go through the same checks as in a
// full-size decode, so the same corruptions stop it and the same damage makes it warn; only
// the inverse DCT, upsampling and colour conversion, which cannot fail on their own, run on
// 1/64 of the pixels. Reading
// through a 256 KiB buffer lets the Huffman decoder almost always take its fast path (which
// words some warnings about damaged data differently, never the verdict).
//
// Memory: a progressive or multi-scan image is decoded into a buffer of all its coefficients,
// two bytes per sample, whose size the frame header alone decides. A damaged header claiming
// 65000 x 65000 pixels would have the decoder fill 12 GB for a file of a few kilobytes (and
// spend a minute on it); the buffer is therefore bounded at 2 GiB, which holds any camera's
// image many times over, and a file needing more fails verification with a message saying so.
#include "ingest/jpeg_verify.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
// jerror.h needs jpeglib.h first.
#include <jerror.h>

#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {
namespace {

constexpr std::size_t kReadBufferSize = 1 << 18;
constexpr long kMaxDecoderMemory = 2048L << 20;

// A file source like the library's stdio one (same messages at the end of the data) with a
// larger buffer, allocated in the decoder's permanent pool.
struct FileSource {
  jpeg_source_mgr pub;
  int fd;
  JOCTET* buffer;
  bool started;
};

void source_init(j_decompress_ptr cinfo) {
  reinterpret_cast<FileSource*>(cinfo->src)->started = false;
}

boolean source_fill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<FileSource*>(cinfo->src);
  ssize_t n;
  do n = read(src->fd, src->buffer, kReadBufferSize);
  while (n < 0 && errno == EINTR);
  if (n < 0) ERREXIT(cinfo, JERR_FILE_READ);
  if (n == 0) {
    if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    // An inserted EOI lets the decoder finish what it has.
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
  src->started = true;
  return TRUE;
}

void source_skip(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* src = cinfo->src;
  if (count <= 0) return;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    (*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void source_term(j_decompress_ptr) {}

void use_file_source(j_decompress_ptr cinfo, int fd) {
  auto* src = static_cast<FileSource*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(FileSource)));
  src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kReadBufferSize));
  src->fd = fd;
  src->started = false;
  src->pub.init_source = source_init;
  src->pub.fill_input_buffer = source_fill;
  src->pub.skip_input_data = source_skip;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = source_term;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  cinfo->src = &src->pub;
}

// Plain C data only: a fatal error longjmps out of libjpeg across these frames.
struct VerifyErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool in_image_data;  // the header is read: what follows is the scans' data
  char fatal[JMSG_LENGTH_MAX];
  char first_warning[JMSG_LENGTH_MAX];
  char first_damage[JMSG_LENGTH_MAX];
};

// Warnings that mean part of the picture is missing or garbled: the decoder filled it in.
// Stray bytes before a marker count once the scans have begun: there they are entropy-coded
// data the decoder could not use (with a damaged code it stops short of the next marker);
// between header segments they cost the picture nothing.
bool means_damaged_data(int code, bool in_image_data) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
      return true;
    case JWRN_EXTRANEOUS_DATA:
      return in_image_data;
    default:
      return false;
  }
}

void on_fatal(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<VerifyErrors*>(cinfo->err);
  // The library's own text for the memory bound ("Backing store not supported") would not
  // tell the user what happened.
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
    std::snprintf(err->fatal, sizeof err->fatal,
                  "Image needs more than %ld MB of memory to decode (damaged frame header?)",
                  kMaxDecoderMemory >> 20);
  else
    (*cinfo->err->format_message)(cinfo, err->fatal);
  std::longjmp(err->jump, 1);
}

// Warnings (level -1) are counted; the first one's text is kept for the text pane, like the
// library's own policy of showing the first warning only, and so is the first one that means
// damaged image data. Trace messages are ignored.
void on_message(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<VerifyErrors*>(cinfo->err);
  if (level >= 0) return;
  if (err->pub.num_warnings == 0) (*cinfo->err->format_message)(cinfo, err->first_warning);
  if (!err->first_damage[0] && means_damaged_data(cinfo->err->msg_code, err->in_image_data))
    (*cinfo->err->format_message)(cinfo, err->first_damage);
  err->pub.num_warnings++;
}

// Runs the decoder over the whole stream. Holds the setjmp frame and therefore owns no C++
// objects; all memory it uses belongs to the decoder's pools and goes with
// jpeg_destroy_decompress.
bool decode_all(jpeg_decompress_struct* cinfo, VerifyErrors* err, int fd) {
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
  use_file_source(cinfo, fd);
  jpeg_read_header(cinfo, TRUE);
  err->in_image_data = true;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 8;
  // Smoothing only shapes the pixels of a progressive image's output; it costs as much per
  // block at 1/8 scale as at full size.
  cinfo->do_block_smoothing = FALSE;
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

JpegCheck check_jpeg(const std::string& path) {
  JpegCheck check;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    check.verdict = JpegVerdict::kUnreadable;
    return check;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  jpeg_decompress_struct cinfo{};
  VerifyErrors err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = on_fatal;
  err.pub.emit_message = on_message;
  const bool decoded = decode_all(&cinfo, &err, fd);
  close(fd);

  check.warning = err.first_warning;
  check.damage = err.first_damage;
  if (!decoded) {
    check.verdict = JpegVerdict::kCorrupt;
    check.error = err.fatal;
  } else if (!check.damage.empty()) {
    check.verdict = JpegVerdict::kDamaged;
  }
  return check;
}

void show_jpeg_check(const std::string& path, const JpegCheck& check) {
  if (check.verdict == JpegVerdict::kUnreadable) {
    std::fprintf(stderr, "can't open %s\n", printable_text(path).c_str());
    return;
  }
  if (!check.warning.empty())
    ui_print("\nWARNING processing JPEG: " + check.warning + " (" + path + ")\n");
  if (check.verdict == JpegVerdict::kCorrupt)
    ui_print("\nERROR processing JPEG: " + check.error + "\n");
}

bool verify_jpeg(const std::string& path) {
  const JpegCheck check = check_jpeg(path);
  show_jpeg_check(path, check);
  return check.verdict == JpegVerdict::kSound || check.verdict == JpegVerdict::kDamaged;
}

}  // namespace cw
