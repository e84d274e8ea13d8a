// A USB settings read as the window makes it (SettingsRead::overHid over
// ReaderLink) against the simulated reader behind the simulated hidapi, with
// the reader taking 5 ms to answer each request. The read waits for each
// reply, not for the clock: four exchanges should cost about four reply
// latencies and little else.
#include "benchutil.h"

#include "link/readerlink.h"
#include "settings/settingsread.h"

#include "support/fakehid.h"

#include "readermodel.h"

#include <QCoreApplication>

#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(Bench::dropTraces);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    constexpr int LatencyMs = 5;
    // Four exchanges, each the reader's latency and 5 ms of slack, and 10 ms
    // for the whole.
    constexpr double TargetMs = 4 * (LatencyMs + 5) + 10;

    ReaderModel model;
    model.setReplyLatencyMs(LatencyMs);
    model.state().preAmble = QByteArray::fromHex("02");
    model.state().postAmble = QByteArray::fromHex("0D0A");
    model.state().removeData = "00";
    FakeHid::attach(&model);
    ReaderLink link;
    if (!link.open(ReaderLink::Transport::Hid)) {
        std::fprintf(stderr, "hidreadbench: the simulated reader did not open\n");
        return 2;
    }

    std::vector<double> reads;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        const SettingsRead::HidResult result = SettingsRead::overHid(link);
        reads.push_back(Bench::elapsedMs(clock));
        if (!result.ok() || !result.settings.removeData) {
            std::fprintf(stderr, "hidreadbench: the read failed\n");
            return 2;
        }
    }
    link.close();
    FakeHid::attach(nullptr);

    const double read = Bench::median(reads);
    const double worst = *std::max_element(reads.begin(), reads.end());
    const double floor = 4 * LatencyMs;
    std::printf("USB settings read against the simulated reader (%d ms reply latency), %d runs\n", LatencyMs, runs);
    std::printf("  read (4 exchanges): median %8.2f ms, min %8.2f, max %8.2f\n", read,
                *std::min_element(reads.begin(), reads.end()), worst);
    std::printf("  four reply latencies: %.0f ms; target: at most %.0f ms\n", floor, TargetMs);
    char figure[64], ratioText[32];
    std::snprintf(figure, sizeof figure, "%.1f ms", read);
    std::snprintf(ratioText, sizeof ratioText, "%.2fx of 4 latencies", read / floor);
    const bool met = read <= TargetMs;
    Bench::result("USB settings read (5 ms reader)", figure, ratioText, "<= 50 ms", met);
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
