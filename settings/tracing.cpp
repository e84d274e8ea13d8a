#include "tracing.h"

Q_LOGGING_CATEGORY(lcSettings, "tavrin.settings", QtInfoMsg)
