#pragma once

// Small helpers shared by the benchmark programs.
#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Bench {

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double elapsedMs(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// The one line per figure that tools/bench.sh gathers into its table:
// what, the figure, the ratio it is judged by, the target, the verdict.
inline void result(const char *what, const char *figure, const char *ratio, const char *target, bool met)
{
    std::printf("BENCH|%s|%s|%s|%s|%s\n", what, figure, ratio, target, met ? "met" : "MISSED");
    std::fflush(stdout);
}

// A figure with no target.
inline void figureOnly(const char *what, const char *figure, const char *ratio)
{
    std::printf("BENCH|%s|%s|%s|none|-\n", what, figure, ratio);
    std::fflush(stdout);
}

// Traces are formatted as in the program, then dropped: a terminal would
// otherwise be timed with them.
inline void dropTraces(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace Bench
