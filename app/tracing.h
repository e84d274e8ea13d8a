#pragma once

#include <QLoggingCategory>

// The app's trace lines, category "tavrin.app": off unless asked for
// (tavrin --verbose, or QT_LOGGING_RULES="tavrin.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
