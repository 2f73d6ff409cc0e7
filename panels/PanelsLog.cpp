#include "panels/PanelsLog.h"

Q_LOGGING_CATEGORY(lcPanels, "kestrum.panels")
