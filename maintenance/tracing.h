#pragma once

#include <QLoggingCategory>

// The maintenance's trace lines, category "tavrin.maintenance": off unless asked for
// (tavrin --verbose, or QT_LOGGING_RULES="tavrin.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcMaintenance)
