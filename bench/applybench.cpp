// `tavrinctl apply --all` over 16 simulated USB readers against the same
// over one, each reader answering every request after 5 ms: readers worked
// on side by side take about as long as one. Run in-process against the
// simulated hidapi; the history is written (and synced) to a scratch folder
// as it would be to the user's.
#include "benchutil.h"

#include "ctl.h"

#include "support/fakehid.h"

#include "readermodel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int LatencyMs = 5;
constexpr double TargetRatio = 1.5;

// One bench run over count fresh readers; its time in ms, or -1 when it did
// not confirm them all.
double applyOnce(int count, const QString &file)
{
    FakeHid::reset();
    std::vector<std::unique_ptr<ReaderModel>> models;
    for (int i = 0; i < count; ++i) {
        models.push_back(std::make_unique<ReaderModel>());
        models.back()->setReplyLatencyMs(LatencyMs);
        FakeHid::addReader(models.back().get());
    }
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QBuffer in;
    in.open(QIODevice::ReadOnly);
    QElapsedTimer clock;
    clock.start();
    const int code = Tavrinctl::run(QStringList{"apply", file, "--all"}, outStream, errStream, in);
    const double ms = Bench::elapsedMs(clock);
    outStream.flush();
    const bool allConfirmed =
        code == 0 && out.contains(QStringLiteral("%1 confirmed, 0 already set, 0 failed").arg(count));
    FakeHid::reset();
    return allConfirmed ? ms : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(Bench::dropTraces);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    constexpr int Readers = 16;

    QTemporaryDir scratch;
    qputenv("XDG_STATE_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("state"))));
    const QString file = scratch.filePath(QStringLiteral("settings.json"));
    {
        QFile settings(file);
        if (!settings.open(QIODevice::WriteOnly))
            return 2;
        settings.write(R"({"preamble": "[STX]ID:", "postamble": "[CR][LF]", "buzzer": false, "outputLength": 12})");
    }

    std::vector<double> ones, manys;
    for (int i = 0; i < runs; ++i) {
        const double one = applyOnce(1, file);
        const double many = applyOnce(Readers, file);
        if (one < 0 || many < 0) {
            std::fprintf(stderr, "applybench: a reader was not confirmed\n");
            return 2;
        }
        ones.push_back(one);
        manys.push_back(many);
    }
    const double one = Bench::median(ones);
    const double many = Bench::median(manys);
    const double ratio = many / one;
    std::printf("tavrinctl apply --all, readers answering after %d ms, %d runs each\n", LatencyMs, runs);
    std::printf("  1 reader:   median %7.1f ms\n", one);
    std::printf("  %d readers: median %7.1f ms (a shell loop would take about %.0f ms)\n", Readers, many,
                one * Readers);
    std::printf("  ratio: %.2fx (target <= %.1fx)\n", ratio, TargetRatio);
    char figure[64], ratioText[32];
    std::snprintf(figure, sizeof figure, "%.0f ms vs %.0f ms", many, one);
    std::snprintf(ratioText, sizeof ratioText, "%.2fx", ratio);
    Bench::result("apply --all, 16 readers vs 1 (5 ms reader)", figure, ratioText, "<= 1.5x", ratio <= TargetRatio);
    return ratio <= TargetRatio ? EXIT_SUCCESS : EXIT_FAILURE;
}
