#include "presets/PresetsLog.h"

Q_LOGGING_CATEGORY(lcPresets, "kestrum.presets")
