// A settings write over USB without the message box: the seven reports of
// SettingsWriteSequence handed to ReaderLink::send, against the
// simulated reader behind the simulated hidapi. Measured beside the same
// sequence built without being sent, in the same run. A real reader adds
// the USB transfer of each report, which this does not see.
#include "benchutil.h"

#include "link/readerlink.h"
#include "settings/settingswrite.h"

#include "support/fakehid.h"

#include "readermodel.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(Bench::dropTraces);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;
    constexpr double TargetMs = 20;

    // A form as a user leaves it: a preamble, a line end, a few boxes.
    SettingsWriteRequest request;
    request.flags = SettingsWriteRequest::flagsFromChecks(false, true, true, false, true);
    request.outputStart = QStringLiteral("0");
    request.outputLength = QStringLiteral("16");
    request.kbCountry = 2;
    request.preAmble = QStringLiteral("[STX]ID:");
    request.postAmble = QStringLiteral("[CR][LF]");
    request.removeData = QStringLiteral("00");
    const SettingsWriteSequence sequence(request, WriteTransport::Hid);

    std::unique_ptr<ReaderModel> model;
    ReaderLink link;
    // The simulated side keeps a record of everything; a fresh one now and
    // then keeps that from growing into the figures.
    const auto freshReader = [&] {
        link.close();
        FakeHid::reset();
        model = std::make_unique<ReaderModel>();
        FakeHid::attach(model.get());
        if (!link.open(ReaderLink::Transport::Hid)) {
            std::fprintf(stderr, "hidwritebench: the simulated reader did not open\n");
            std::exit(2);
        }
    };

    std::vector<double> writes, builds;
    for (int i = 0; i < runs; ++i) {
        if (i % 50 == 0)
            freshReader();
        QElapsedTimer clock;
        clock.start();
        const int built = sequence.run([](const QByteArray &frame) { return !frame.isEmpty(); });
        builds.push_back(Bench::elapsedMs(clock));

        clock.start();
        const int sent = sequence.run([&link](const QByteArray &frame) { return link.send(frame); });
        writes.push_back(Bench::elapsedMs(clock));
        if (sent != sequence.count() || built != sequence.count() || model->settingsDoneCount() == 0) {
            std::fprintf(stderr, "hidwritebench: the write did not go through\n");
            return 2;
        }
    }
    link.close();
    FakeHid::reset();

    const double write = Bench::median(writes);
    const double build = Bench::median(builds);
    std::printf("USB settings write, %d reports, without the box, %d runs\n", sequence.count(), runs);
    std::printf("  built and sent:  median %8.4f ms, max %8.4f ms\n", write,
                *std::max_element(writes.begin(), writes.end()));
    std::printf("  built only:      median %8.4f ms\n", build);
    std::printf("  ratio to the target of 20 ms: %.5f; sent / built only: %.2f\n", write / TargetMs, write / build);
    char figure[64], ratio[32];
    std::snprintf(figure, sizeof figure, "%.3f ms", write);
    std::snprintf(ratio, sizeof ratio, "%.4fx of 20 ms", write / TargetMs);
    Bench::result("USB settings write, 7 reports (simulated)", figure, ratio, "< 20 ms", write < TargetMs);
    return write < TargetMs ? EXIT_SUCCESS : EXIT_FAILURE;
}
