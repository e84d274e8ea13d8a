#pragma once

#include <QStringList>
#include <QtMessageHandler>

// Collects every debug message while it lives, so that tests can compare the
// program's traces to the letter. Only one may live at a time.
class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    QStringList lines() const;
    void clear();
    int count(const QString &line) const { return int(lines().count(line)); }
    // Messages that start with prefix, in order.
    QStringList startingWith(const QString &prefix) const;

private:
    QtMessageHandler previous;
};
