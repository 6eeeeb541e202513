// Names and defaults of the ingestion parameter list.
#include "settings/param_list.h"

#include <cstdlib>
#include <iterator>

namespace cw {

const char* const kParamNames[kParamCount] = {
    "(program name)",     "copy",               "card_folder",      "backup_folder",
    "primary_folder",     "DNG_Converter_path", "wantBackup",       "nameFormat",
    "folderFormat",       "paritionSize",       "includeExtensions", "extensions",
    "preview",            "embed",              "verifyOnly",       "sidecar_path",
    "wantJPEGVerify",     "startingNumber",     "numberRangeDigits", "ingestion_id",
    "clientName",         "projectName",        "CRDefaults",       "numberRangeSource",
    "fileArray",          "backup_folder_post", "wantBackupPost",   "wantConvertDNGs",
    "wantXMPtoJPG",       "extractJPG",         "converterParams",
};

const char* const kCopycardUsage =
    "arg count -- copycard copy card_folder backup_folder primary_folder DNG_Converter_path "
    "wantBackup nameFormat folderFormat paritionSize includeExtensions extensions preview "
    "embed verifyOnly sidecar_path wantJPEGVerify startingNumber numberRangeDigits "
    "ingestion_id clientName projectName CRDefaults numberRangeSource fileArray "
    "backup_folder_post wantBackupPost wantConvertDNGs wantXMPtoJPG extractJPG "
    "converterParams";

const char* const kDefaultNameFormat = "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}";
const char* const kDefaultFolderFormat =
    "{@datetimeany,1,4}/{@datetimeany,5,2}/"
    "{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}";

const std::string& ParamList::text(int pos) const {
  static const std::string empty;
  return pos >= 0 && pos < count() ? values[static_cast<std::size_t>(pos)] : empty;
}

int ParamList::integer(int pos) const { return std::atoi(text(pos).c_str()); }

ParamList default_param_list() {
  // Indexed by position; position 24 (the picked files) is not text.
  static const char* const kDefaults[kParamCount] = {
      "imageCopy", "copy", "", "", "", "none", "0", kDefaultNameFormat, kDefaultFolderFormat,
      "1000000",   "0",    "", "-p0", "", "-", "", "1", "1", "4", "-1", "", "", "", "2", "",
      "",          "0",    "1", "0", "0", "",
  };
  ParamList p;
  p.values.assign(std::begin(kDefaults), std::end(kDefaults));
  return p;
}

}  // namespace cw
