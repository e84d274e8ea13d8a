// Throughput of the key-code text conversion over a mix of texts as the
// form holds them: bracketed control names, plain characters, code-page
// letters and the reader's symbols, up to 60 codes a string. Measured
// beside QString's own Latin-1 conversion of the same data in the same run,
// the cheapest conversion of one character to one byte there is.
#include "benchutil.h"

#include "settings/keycodes.h"
#include "settings/textcodec.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QStringList>

#include <cstdlib>

namespace {

QStringList corpus(int count)
{
    const QStringList pieces{
        QStringLiteral("[STX]"), QStringLiteral("[ETX]"), QStringLiteral("[CR]"),     QStringLiteral("[LF]"),
        QStringLiteral("[CR][LF]"), QStringLiteral("[HT]"), QStringLiteral("[ESC]"),  QStringLiteral("ID:"),
        QStringLiteral("Door 3 "), QStringLiteral("0123456789"), QStringLiteral("ABCDEF"), QStringLiteral("Tür"),
        QStringLiteral("café"),   QStringLiteral("\u20AC"), QStringLiteral("\u00A7"), QStringLiteral("[x]"),
        QStringLiteral(";"),      QStringLiteral("#"),      QStringLiteral("Name="),   QStringLiteral(" "),
    };
    QRandomGenerator random(42);
    QStringList texts;
    while (texts.size() < count) {
        QString text;
        const int parts = 1 + int(random.bounded(8));
        for (int i = 0; i < parts; ++i) {
            const QString &piece = pieces.at(int(random.bounded(qsizetype(pieces.size()))));
            if (encodeKeyCodes(text + piece).size() > 60)
                break;
            text += piece;
        }
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(Bench::dropTraces);
    TextCodec::initialise();
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    const QStringList texts = corpus(20000);
    QList<QByteArray> codes;
    qint64 codeBytes = 0;
    for (const QString &text : texts) {
        codes << encodeKeyCodes(text);
        codeBytes += codes.last().size();
    }
    const double mb = double(codeBytes) / (1024.0 * 1024.0);

    // Each figure in MB of key codes per second; sink keeps the work alive.
    qint64 sink = 0;
    std::vector<double> encode, decodeUsb, decodeSerial, toLatin1, fromLatin1;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        for (const QString &text : texts)
            sink += encodeKeyCodes(text).size();
        encode.push_back(mb / (Bench::elapsedMs(clock) / 1e3));

        clock.start();
        for (const QByteArray &c : codes)
            sink += decodeKeyCodes(c).size();
        decodeUsb.push_back(mb / (Bench::elapsedMs(clock) / 1e3));

        clock.start();
        for (const QByteArray &c : codes)
            sink += decodeSerialKeyCodes(c).size();
        decodeSerial.push_back(mb / (Bench::elapsedMs(clock) / 1e3));

        clock.start();
        for (const QString &text : texts)
            sink += text.toLatin1().size();
        toLatin1.push_back(mb / (Bench::elapsedMs(clock) / 1e3));

        clock.start();
        for (const QByteArray &c : codes)
            sink += QString::fromLatin1(c).size();
        fromLatin1.push_back(mb / (Bench::elapsedMs(clock) / 1e3));
    }

    const double enc = Bench::median(encode), usb = Bench::median(decodeUsb), ser = Bench::median(decodeSerial);
    const double to = Bench::median(toLatin1), from = Bench::median(fromLatin1);
    std::printf("Key-code text conversion, %lld strings, %.2f MB of key codes, %d rounds (sink %lld)\n",
                static_cast<long long>(texts.size()), mb, rounds, static_cast<long long>(sink));
    std::printf("  encodeKeyCodes        %8.1f MB/s   QString::toLatin1   %8.1f MB/s   ratio %.3f\n", enc, to, enc / to);
    std::printf("  decodeKeyCodes        %8.1f MB/s   QString::fromLatin1 %8.1f MB/s   ratio %.3f\n", usb, from,
                usb / from);
    std::printf("  decodeSerialKeyCodes  %8.1f MB/s   QString::fromLatin1 %8.1f MB/s   ratio %.3f\n", ser, from,
                ser / from);
    char figure[64], ratio[48];
    std::snprintf(figure, sizeof figure, "%.1f MB/s", enc);
    std::snprintf(ratio, sizeof ratio, "%.3fx of toLatin1", enc / to);
    Bench::figureOnly("key-code encode", figure, ratio);
    std::snprintf(figure, sizeof figure, "%.1f MB/s", usb);
    std::snprintf(ratio, sizeof ratio, "%.3fx of fromLatin1", usb / from);
    Bench::figureOnly("key-code decode (USB form)", figure, ratio);
    std::snprintf(figure, sizeof figure, "%.1f MB/s", ser);
    std::snprintf(ratio, sizeof ratio, "%.3fx of fromLatin1", ser / from);
    Bench::figureOnly("key-code decode (serial form)", figure, ratio);
    return EXIT_SUCCESS;
}
