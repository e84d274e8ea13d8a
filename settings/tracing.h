#pragma once

#include <QLoggingCategory>

// The settings's trace lines, category "tavrin.settings": off unless asked for
// (tavrin --verbose, or QT_LOGGING_RULES="tavrin.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
