#pragma once

#include <QLoggingCategory>

// The program's trace lines are off unless asked for; tests that read them
// ask for all of them.
inline void enableTraces()
{
    QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
}
