// camera_copy: one plain ingestion (copies only, default names and folders, no JPEG decoding,
// copies hashed for the ledger but not read back: gphoto2 reads nothing back either)
// from a camera into a folder, through the program's camera source and the engine, as the
// command line will run it. The camera side of bench/camera_ingest.
//
// Usage: camera_copy CAMERA_NAME DEST
// Exit status 0 on a successful ingestion; the report goes to standard error on failure.
#include <cstdio>
#include <string>

#include "device/camera_card.h"
#include "foundation/log.h"
#include "ingest/engine_context.h"
#include "ingest/ingest.h"
#include "ingest/slot_control.h"
#include "platform/paths.h"
#include "settings/param_list.h"

int main(int argc, char** argv) {
  using namespace cw;
  if (argc != 3) {
    std::fprintf(stderr, "Usage: camera_copy CAMERA_NAME DEST\n");
    return 2;
  }
  const std::string card = std::string("ptp/") + argv[1];
  log_set_path(ensure_user_folder() + "/cw_log.txt");
  std::unique_ptr<CameraSource> source = make_camera_source();
  std::string message;
  if (!check_camera_card(*source, card, message)) {
    std::fprintf(stderr, "camera_copy: %s\n", message.c_str());
    return 1;
  }
  ParamList params = default_param_list();
  params.values[kParamCardFolder] = "ptp";
  params.values[kParamPrimaryFolder] = argv[2];
  params.values[kParamWantJpegVerify] = "0";
  SingleSlotControl control;
  EngineContext ctx(EngineJob{&control, 0, card});
  ctx.verify_copies = false;
  ctx.cameras = source.get();
  const bool ok = copycard(params, kParamCount, card, ctx);
  if (!ok) std::fprintf(stderr, "%s\nERROR: %s\n", ctx.report.c_str(), ctx.error.c_str());
  return ok ? 0 : 1;
}
