#pragma once

#include <QLoggingCategory>

// The device panels log under "kestrum.panels", so that the log can be turned
// off or on with the usual logging rules.
Q_DECLARE_LOGGING_CATEGORY(lcPanels)
