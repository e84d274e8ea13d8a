// The worker that makes a label count through the code page.
#include "app/charthread.h"
#include "settings/textcodec.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

namespace {

QString shown(unsigned char letter)
{
    return TextCodec::cStringToText(QByteArray(1, char(letter)));
}

// The label's texts as they change, until count have been seen or the time
// is up. Steps are 100 ms apart; looking every 5 ms misses none.
QStringList watchLabel(const QLabel &label, int count, int timeoutMs = 3000)
{
    QStringList seen;
    QString last = label.text();
    QElapsedTimer clock;
    clock.start();
    while (seen.size() < count && clock.elapsed() < timeoutMs) {
        QTest::qWait(5);
        if (label.text() != last) {
            last = label.text();
            seen << last;
        }
    }
    return seen;
}

} // namespace

class CharThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void showsCharactersInCodeOrder_data();
    void showsCharactersInCodeOrder();
    void pauseHoldsTheCurrentCharacter();
    void stopEndsWithThreadStop();
    void pausedThreadStopsOnlyWhenReleased();
    void labelGoneWhileRunning();
};

void CharThreadTest::showsCharactersInCodeOrder_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("from A") << int('A') << QStringList{"A", "B", "C", "D"};
    // 0 shows as an empty text.
    QTest::newRow("wrap") << 0xFE << QStringList{shown(0xFE), shown(0xFF), QString(), shown(0x01)};
}

void CharThreadTest::showsCharactersInCodeOrder()
{
    QFETCH(int, start);
    QFETCH(QStringList, expected);

    QLabel label(QStringLiteral("-"));
    charThread thread(&label, static_cast<unsigned char>(start));
    QElapsedTimer clock;
    clock.start();
    thread.start();
    QCOMPARE(watchLabel(label, int(expected.size())), expected);
    // About 100 ms a step: four texts take three steps.
    QVERIFY2(clock.elapsed() >= 280, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!thread.isFinished());
}

void CharThreadTest::pauseHoldsTheCurrentCharacter()
{
    QLabel label;
    charThread thread(&label);
    thread.start();
    QCOMPARE(watchLabel(label, 3), (QStringList{"A", "B", "C"}));
    thread.togglePause();
    QVERIFY(watchLabel(label, 1, 400).isEmpty());
    QCOMPARE(label.text(), QStringLiteral("C"));
    thread.togglePause();
    QCOMPARE(watchLabel(label, 2), (QStringList{"D", "E"}));
}

void CharThreadTest::stopEndsWithThreadStop()
{
    QLabel label;
    charThread thread(&label);
    thread.start();
    QCOMPARE(watchLabel(label, 1), QStringList{"A"});
    thread.stop();
    QVERIFY(thread.wait(500));
    QTRY_COMPARE(label.text(), QStringLiteral("Thread stop"));
}

void CharThreadTest::pausedThreadStopsOnlyWhenReleased()
{
    QLabel label;
    charThread thread(&label);
    thread.start();
    QCOMPARE(watchLabel(label, 1), QStringList{"A"});
    thread.togglePause();
    thread.stop();
    QVERIFY(!thread.wait(400));
    QCOMPARE(label.text(), QStringLiteral("A"));
    thread.togglePause();
    QVERIFY(thread.wait(500));
    QTRY_COMPARE(label.text(), QStringLiteral("Thread stop"));
}

void CharThreadTest::labelGoneWhileRunning()
{
    auto *label = new QLabel;
    charThread thread(label);
    thread.start();
    QVERIFY(!watchLabel(*label, 1).isEmpty());
    // Texts the worker sends from now on have no label to go to.
    delete label;
    QTest::qWait(350);
    thread.stop();
    QVERIFY(thread.wait(1000));
    QTest::qWait(50);
}

QTEST_MAIN(CharThreadTest)
#include "tst_charthread.moc"
