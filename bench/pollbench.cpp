// Feeds 1 MB of reader output through the window's serial poll in 64-byte
// chunks, over a pseudo-terminal, and prints what one poll costs with 1 KB
// and with 1 MB already on the output tab. Runs offscreen.
#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTimer>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

constexpr int ChunkSize = 64;
constexpr qint64 Kilobyte = 1024;
constexpr qint64 Megabyte = 1024 * 1024;

struct Stats
{
    double medianUs = 0;
    double meanUs = 0;
    int samples = 0;
};

Stats stats(std::vector<qint64> ns)
{
    Stats s;
    s.samples = int(ns.size());
    if (ns.empty())
        return s;
    std::sort(ns.begin(), ns.end());
    s.medianUs = ns[ns.size() / 2] / 1000.0;
    s.meanUs = std::accumulate(ns.begin(), ns.end(), 0.0) / double(ns.size()) / 1000.0;
    return s;
}

// Reader output as the reader sends it: one token ID line after another.
class Stream
{
public:
    QByteArray next()
    {
        while (pending.size() < ChunkSize)
            pending += reader.tokenOutput();
        const QByteArray chunk = pending.left(ChunkSize);
        pending.remove(0, ChunkSize);
        return chunk;
    }

private:
    ReaderModel reader;
    QByteArray pending;
};

class Bench
{
public:
    Bench()
    {
        // The simulated hidapi has no reader attached: the window starts on
        // the serial side, as on a machine without the USB reader.
        window.show();
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        edit = window.findChild<QTextEdit *>(QStringLiteral("ScannerEdit"));
        if (!tabs || !edit || !pty.isOpen())
            qFatal("set-up failed: %s", qPrintable(pty.errorString()));
        tabs->setEnabled(true);
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->isAncestorOf(edit))
                tabs->setCurrentIndex(i);
        if (!edit->isVisible())
            qFatal("the output tab is not showing");
        // The port the poll reads; no timer, the polls come from here.
        ReaderLink &link = window.link();
        if (!link.open(ReaderLink::Transport::Serial, pty.portName()))
            qFatal("cannot open %s", qPrintable(pty.portName()));
        link.findChild<QTimer *>()->stop();
        QCoreApplication::processEvents();
    }

    // One chunk onto the line, into the port, then one timed poll; the
    // event loop runs afterwards as it would between two timer ticks.
    qint64 feedOne()
    {
        const QByteArray chunk = stream.next();
        ReaderLink &link = window.link();
        pty.inject(chunk);
        while (link.bytesWaiting() < chunk.size())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QElapsedTimer clock;
        clock.start();
        link.pollNow();
        const qint64 ns = clock.nsecsElapsed();
        shown += chunk.size();
        // What the poll left for the event loop: layout, scroll bars, paint.
        QCoreApplication::processEvents();
        lastWithEventsNs = clock.nsecsElapsed();
        return ns;
    }

    void fillTo(qint64 bytes)
    {
        while (shown < bytes)
            feedOne();
    }

    // Each poll alone, and each poll with the event loop's work after it.
    void timePolls(int count, std::vector<qint64> &polls, std::vector<qint64> &withEvents)
    {
        for (int i = 0; i < count; ++i) {
            polls.push_back(feedOne());
            withEvents.push_back(lastWithEventsNs);
        }
    }

    void clear()
    {
        edit->clear();
        shown = 0;
    }

    qint64 shownBytes() const { return shown; }
    int shownChars() const { return edit->document()->characterCount() - 1; }
    QString text() const { return edit->toPlainText(); }

private:
    MainWindow window;
    PtyReader pty;
    QTextEdit *edit = nullptr;
    Stream stream;
    qint64 shown = 0;
    qint64 lastWithEventsNs = 0;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Two windows, each on its own pseudo-terminal: one keeps between 1 and
    // 2 KB on its output tab, the other gets the whole megabyte. Their polls
    // then take turns, so that both sizes see the same machine state.
    Bench little;
    Bench much;
    QElapsedTimer fill;
    fill.start();
    much.fillTo(Megabyte);
    const qint64 fillMs = fill.elapsed();
    const int charsAtMegabyte = much.shownChars();

    constexpr int Polls = 640;
    std::vector<qint64> small, smallEvents, large, largeEvents;
    for (int i = 0; i < Polls; ++i) {
        if (little.shownBytes() >= 2 * Kilobyte || little.shownBytes() < Kilobyte) {
            little.clear();
            little.fillTo(Kilobyte);
        }
        little.timePolls(1, small, smallEvents);
        much.timePolls(1, large, largeEvents);
    }

    const Stats s = stats(small);
    const Stats l = stats(large);
    const Stats se = stats(smallEvents);
    const Stats le = stats(largeEvents);
    std::printf("One serial poll (MainWindow::onReadyRead), %d-byte chunks of token ID lines\n", ChunkSize);
    std::printf("%-20s %6s | %-23s | %-23s\n", "", "", "the poll alone", "with the event loop after");
    std::printf("%-20s %6s | %11s %11s | %11s %11s\n", "already shown", "polls", "median us", "mean us",
                "median us", "mean us");
    std::printf("%-20s %6d | %11.1f %11.1f | %11.1f %11.1f\n", "1 KB (1-2 KB)", s.samples, s.medianUs,
                s.meanUs, se.medianUs, se.meanUs);
    std::printf("%-20s %6d | %11.1f %11.1f | %11.1f %11.1f\n", "1 MB (+40 KB)", l.samples, l.medianUs,
                l.meanUs, le.medianUs, le.meanUs);
    const double ratio = s.medianUs > 0 ? l.medianUs / s.medianUs : 0;
    const double meanRatio = s.meanUs > 0 ? l.meanUs / s.meanUs : 0;
    const double eventsRatio = se.medianUs > 0 ? le.medianUs / se.medianUs : 0;
    std::printf("ratio 1 MB / 1 KB, poll: median %.2f, mean %.2f (target: at most 2)\n", ratio, meanRatio);
    std::printf("ratio 1 MB / 1 KB, with the event loop: median %.2f\n", eventsRatio);
    // For comparison: rebuilding the whole text at every poll, on an edit of
    // the same size, from the text the two windows show.
    const auto rebuildCost = [](const QString &shownText, int count) {
        QTextEdit edit;
        edit.resize(521, 211);
        edit.show();
        edit.setPlainText(shownText);
        QCoreApplication::processEvents();
        Stream stream;
        std::vector<qint64> ns;
        for (int i = 0; i < count; ++i) {
            const QString chunk = QString::fromLatin1(stream.next());
            QElapsedTimer clock;
            clock.start();
            edit.setText(edit.document()->toPlainText() + chunk);
            ns.push_back(clock.nsecsElapsed());
            QCoreApplication::processEvents();
        }
        return stats(ns);
    };
    const Stats rs = rebuildCost(little.text(), 64);
    const Stats rl = rebuildCost(much.text(), 8);
    std::printf("rebuilding the whole text instead: median %.1f us at 1 KB, %.1f us at 1 MB (ratio %.0f)\n",
                rs.medianUs, rl.medianUs, rs.medianUs > 0 ? rl.medianUs / rs.medianUs : 0);
    std::printf("filling 1 MB took %lld ms over %lld polls; the tab held %d characters\n",
                static_cast<long long>(fillMs), static_cast<long long>(Megabyte / ChunkSize), charsAtMegabyte);
    std::fflush(stdout);
    return ratio <= 2.0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
