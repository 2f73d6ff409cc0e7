#pragma once

#include <QLoggingCategory>

// The tray icon and its menu log under "kestrum.tray", so that the log can be turned
// off or on with the usual logging rules.
Q_DECLARE_LOGGING_CATEGORY(lcTray)
