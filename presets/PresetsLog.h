#pragma once

#include <QLoggingCategory>

// The presets log under "kestrum.presets".
Q_DECLARE_LOGGING_CATEGORY(lcPresets)
