// A serial settings read as the window makes it (SettingsRead::overSerial
// over ReaderLink) against the simulated reader on a pseudo-terminal: the
// time from the moment the reader has written the last byte of its reply
// until the read returns with it. The read takes the reply as it arrives;
// waiting for the 100 ms poll instead would add half a poll interval on
// average.
//   serialreadbench [RUNS]
#include "benchutil.h"

#include "link/readerlink.h"
#include "settings/settingsread.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QCoreApplication>

#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(Bench::dropTraces);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    constexpr double TargetMs = 10;

    ReaderModel model;
    model.state().preAmble = QByteArray::fromHex("02");
    model.state().postAmble = QByteArray::fromHex("0D0A");
    PtyReader pty(&model);
    ReaderLink link;
    if (!pty.isOpen() || !link.open(ReaderLink::Transport::Serial, pty.portName())) {
        std::fprintf(stderr, "serialreadbench: the simulated reader did not open\n");
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    qint64 lastByteNs = 0;
    QObject::connect(&pty, &PtyReader::bytesSent, &app, [&] { lastByteNs = clock.nsecsElapsed(); });

    std::vector<double> afterLastByte, whole;
    for (int i = 0; i < runs; ++i) {
        lastByteNs = 0;
        const qint64 start = clock.nsecsElapsed();
        const std::optional<QByteArray> reply = SettingsRead::overSerial(link);
        const qint64 end = clock.nsecsElapsed();
        if (!reply || lastByteNs == 0) {
            std::fprintf(stderr, "serialreadbench: the read failed\n");
            return 2;
        }
        afterLastByte.push_back(double(end - lastByteNs) / 1e6);
        whole.push_back(double(end - start) / 1e6);
        // What the poll would otherwise still find belongs to no read.
        QCoreApplication::processEvents();
    }
    link.close();

    const double latency = Bench::median(afterLastByte);
    std::printf("Serial settings read against the simulated reader, %d runs\n", runs);
    std::printf("  after the reply's last byte: median %7.2f ms, min %7.2f, max %7.2f\n", latency,
                *std::min_element(afterLastByte.begin(), afterLastByte.end()),
                *std::max_element(afterLastByte.begin(), afterLastByte.end()));
    std::printf("  whole read (6 requests, reply): median %7.2f ms\n", Bench::median(whole));
    char figure[64];
    char ratio[64];
    std::snprintf(figure, sizeof figure, "%.2f ms", latency);
    std::snprintf(ratio, sizeof ratio, "%.2fx of %.0f ms", latency / TargetMs, TargetMs);
    Bench::result("serial read, after the reply's last byte", figure, ratio, "<= 10 ms", latency <= TargetMs);
    return latency <= TargetMs ? EXIT_SUCCESS : EXIT_FAILURE;
}
