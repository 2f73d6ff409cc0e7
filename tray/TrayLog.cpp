#include "tray/TrayLog.h"

Q_LOGGING_CATEGORY(lcTray, "kestrum.tray")
