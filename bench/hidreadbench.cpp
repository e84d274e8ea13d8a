// A USB settings read as the window makes it (SettingsRead::overHid over
// ReaderLink) against the simulated reader behind the simulated hidapi,
// measured against the four 300 ms pauses the exchange has to make: once
// their nominal 1.2 s, once the same four pauses timed alone in this run.
// The simulated reader answers at once, so what is left over is the
// program's own cost.
#include "benchutil.h"

#include "app/platform.h"
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
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    constexpr double Nominal = 4 * ReaderLink::ReadPauseMs;
    constexpr double Target = 1.05;

    ReaderModel model;
    model.state().preAmble = QByteArray::fromHex("02");
    model.state().postAmble = QByteArray::fromHex("0D0A");
    model.state().removeData = "00";
    FakeHid::attach(&model);
    ReaderLink link;
    if (!link.openHid()) {
        std::fprintf(stderr, "hidreadbench: the simulated reader did not open\n");
        return 2;
    }

    std::vector<double> reads, pauses;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        for (int k = 0; k < 4; ++k)
            Platform::sleepMs(ReaderLink::ReadPauseMs);
        pauses.push_back(Bench::elapsedMs(clock));

        clock.start();
        const SettingsRead::HidResult result = SettingsRead::overHid(link);
        reads.push_back(Bench::elapsedMs(clock));
        if (!result.ok() || !result.settings.removeData) {
            std::fprintf(stderr, "hidreadbench: the read failed\n");
            return 2;
        }
    }
    link.closeHid();

    const double read = Bench::median(reads);
    const double pause = Bench::median(pauses);
    const double ratio = read / Nominal;
    std::printf("USB settings read against the simulated reader, %d runs\n", runs);
    std::printf("  read (4 exchanges):     median %8.2f ms, min %8.2f, max %8.2f\n", read,
                *std::min_element(reads.begin(), reads.end()), *std::max_element(reads.begin(), reads.end()));
    std::printf("  four 300 ms pauses:     median %8.2f ms\n", pause);
    std::printf("  ratio to the nominal 1.2 s: %.4f (target: at most %.2f); to the timed pauses: %.4f\n", ratio,
                Target, read / pause);
    char figure[64], ratioText[32];
    std::snprintf(figure, sizeof figure, "%.1f ms", read);
    std::snprintf(ratioText, sizeof ratioText, "%.3fx of 1.2 s", ratio);
    Bench::result("USB settings read (simulated reader)", figure, ratioText, "<= 1.05x", ratio <= Target);
    return ratio <= Target ? EXIT_SUCCESS : EXIT_FAILURE;
}
