// The examination report of one image file.
#include "control/examine_image.h"

#include "metadata/examine.h"

namespace cw {

Examination examine_image(const std::string& path, MacroEnvironment& env) {
  Examination out;
  out.report = examination_report(path, env, &out.understood);
  return out;
}

}  // namespace cw
