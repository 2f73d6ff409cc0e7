#pragma once

#include <QLoggingCategory>

// The settings dialog, its driver sequences and the ASIO pipe link log under "kestrum.settings", so that the log can be turned
// off or on with the usual logging rules.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
