// Installation of the metadata templates at start-up: the templates shipped beside the program
// are copied into the user's metadata-template folder, where presets and sidecars find them.
#pragma once

#include <string>

namespace cw {

// Name of the shipped IPTC metadata template.
inline constexpr const char* kIptcTemplateName = "Cardwright-IPTC.3.4";

// Makes sure `template_folder` exists, then installs the shipped templates from
// `program_folder` into it: "Cardwright.xmp" when the user has none (never replacing one), and
// the IPTC template when the user has none or an outdated copy.
void install_metadata_templates(const std::string& program_folder,
                                const std::string& template_folder);

}  // namespace cw
