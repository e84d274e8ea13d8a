#include "tracing.h"

Q_LOGGING_CATEGORY(lcLink, "tavrin.link", QtInfoMsg)
