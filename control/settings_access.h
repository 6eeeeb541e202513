// The settings as the front ends see them: the settings owner with its presets, the parameter
// list of an ingestion, the preferences, the vocabulary and the close-match search. Commands
// and windows reach these value types through this header; what they do with settings beyond
// reading and showing them goes through the functions of control/.
#pragma once

#include "settings/close_match.h"
#include "settings/param.h"
#include "settings/param_list.h"
#include "settings/param_record.h"
#include "settings/preferences.h"
#include "settings/preset.h"
#include "settings/preset_edit.h"
#include "settings/preset_keys.h"
#include "settings/vocabulary.h"
