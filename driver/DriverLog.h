#pragma once

#include <QLoggingCategory>

// The driver channel log under "kestrum.driver", so that the log can be turned
// off or on with the usual logging rules.
Q_DECLARE_LOGGING_CATEGORY(lcDriver)
