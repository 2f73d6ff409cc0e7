#include "driver/DriverLog.h"

Q_LOGGING_CATEGORY(lcDriver, "kestrum.driver")
