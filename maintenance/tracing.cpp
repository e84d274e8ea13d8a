#include "tracing.h"

Q_LOGGING_CATEGORY(lcMaintenance, "tavrin.maintenance", QtInfoMsg)
