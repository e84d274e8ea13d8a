#pragma once

#include <QLoggingCategory>

// The link's trace lines, category "tavrin.link": off unless asked for
// (tavrin --verbose, or QT_LOGGING_RULES="tavrin.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)
