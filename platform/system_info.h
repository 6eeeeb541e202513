// What the program says about the system it runs on: the text named in ingestion records and
// support requests.
#pragma once

#include <string>

namespace cw {

// Operating system name, release and machine ("Linux 6.1.0-18-amd64 x86_64"); "[Unknown OS
// Version]" when the system does not say.
std::string os_version_text();

// The platform word that follows the program's version in ingestion records.
inline constexpr const char* kPlatformName = "Linux";

}  // namespace cw
