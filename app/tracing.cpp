#include "tracing.h"

Q_LOGGING_CATEGORY(lcApp, "tavrin.app", QtInfoMsg)
