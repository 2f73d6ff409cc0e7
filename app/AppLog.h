#pragma once

#include <QLoggingCategory>

// The entry routine and the main window log under "kestrum.app", so that the log can be turned
// off or on with the usual logging rules.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
