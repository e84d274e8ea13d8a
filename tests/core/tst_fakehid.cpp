#include "support/fakehid.h"

#include "readermodel.h"

#include "link/commandframe.h"

#include <hidapi.h>

#include <QElapsedTimer>
#include <QtTest>

#include <array>
#include <cwchar>

namespace {

using Buffer = std::array<unsigned char, 256>;

int writeFrame(hid_device *dev, const QByteArray &frame, quint8 seq = 0)
{
    const HidReport report = HidReport::fromFrame(frame, seq);
    return hid_write(dev, report.data(), HidReport::Size);
}

QString text(const wchar_t *wide)
{
    return wide ? QString::fromWCharArray(wide) : QStringLiteral("(null)");
}

} // namespace

class TestFakeHid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void absentReader();
    void openByProduct_data();
    void openByProduct();
    void enumerateAndOpenPath();
    void exchangeAndRecords();
    void silentReaderTimeoutSleeps();
    void readsThatWouldBlock_data();
    void readsThatWouldBlock();
    void lateReplyPolledAndBlocking();
    void refusedWrites_data();
    void refusedWrites();
    void unplugAfterWrites();
    void strings_data();
    void strings();
    void misuse_data();
    void misuse();
    void versionAndUnsupported();

private:
    ReaderModel m_reader;
};

void TestFakeHid::init()
{
    FakeHid::reset();
    m_reader = ReaderModel();
    // These tests read right after writing, as a reader that answers at once.
    m_reader.setReplyLatencyMs(0);
    FakeHid::attach(&m_reader);
}

void TestFakeHid::cleanup()
{
    QCOMPARE(FakeHid::violations(), QStringList());
    FakeHid::reset();
}

void TestFakeHid::absentReader()
{
    FakeHid::attach(nullptr);
    QVERIFY(!hid_open(FakeHid::VendorId, FakeHid::ReaderProductId, nullptr));
    QVERIFY(!hid_enumerate(0, 0));
    QVERIFY(!text(hid_error(nullptr)).isEmpty());
    QCOMPARE(FakeHid::openCount(), 1);
    QVERIFY(!FakeHid::opens().first().opened);
}

void TestFakeHid::openByProduct_data()
{
    QTest::addColumn<QList<quint16>>("products");
    QTest::addColumn<quint16>("vendor");
    QTest::addColumn<quint16>("product");
    QTest::addColumn<bool>("opens");

    const QList<quint16> reader{0xF100};
    const QList<quint16> both{0xF100, 0xC141};
    QTest::newRow("reader") << reader << quint16(0x0416) << quint16(0xF100) << true;
    QTest::newRow("diagnostic product absent by default") << reader << quint16(0x0416) << quint16(0xC141) << false;
    QTest::newRow("diagnostic product when present") << both << quint16(0x0416) << quint16(0xC141) << true;
    QTest::newRow("other vendor") << reader << quint16(0x0417) << quint16(0xF100) << false;
    QTest::newRow("any device") << reader << quint16(0) << quint16(0) << true;
    QTest::newRow("reader listed under the diagnostic id only") << QList<quint16>{0xC141} << quint16(0x0416)
                                                                << quint16(0xF100) << false;
}

void TestFakeHid::openByProduct()
{
    QFETCH(QList<quint16>, products);
    QFETCH(quint16, vendor);
    QFETCH(quint16, product);
    QFETCH(bool, opens);

    FakeHid::setProducts(products);
    hid_device *dev = hid_open(vendor, product, nullptr);
    QCOMPARE(dev != nullptr, opens);
    QCOMPARE(FakeHid::openHandleCount(), opens ? 1 : 0);
    const FakeHid::OpenCall call = FakeHid::opens().value(0);
    QCOMPARE(call.vendorId, vendor);
    QCOMPARE(call.productId, product);
    QCOMPARE(call.opened, opens);
    if (dev)
        hid_close(dev);

    FakeHid::setOpenFails(true);
    QVERIFY(!hid_open(vendor, product, nullptr));
}

void TestFakeHid::enumerateAndOpenPath()
{
    FakeHid::setProducts({0xF100, 0xC141});
    hid_device_info *devs = hid_enumerate(0x0416, 0);
    QStringList seen;
    for (hid_device_info *d = devs; d; d = d->next)
        seen << QStringLiteral("%1 %2:%3").arg(QLatin1String(d->path)).arg(d->vendor_id, 0, 16).arg(d->product_id, 0, 16);
    hid_free_enumeration(devs);
    QCOMPARE(seen, QStringList({"/dev/hidraw-sim0 416:f100", "/dev/hidraw-sim1 416:c141"}));

    hid_device *dev = hid_open_path("/dev/hidraw-sim1");
    QVERIFY(dev);
    const hid_device_info *info = hid_get_device_info(dev);
    QVERIFY(info);
    QCOMPARE(info->product_id, quint16(0xC141));
    hid_close(dev);
    QVERIFY(!hid_open_path("/dev/hidraw-sim7"));
}

void TestFakeHid::exchangeAndRecords()
{
    QCOMPARE(hid_init(), 0);
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    QVERIFY(dev);
    QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus), 2), 65);
    Buffer reply{};
    QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 300), 64);
    QCOMPARE(reply[48], 0xFD);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&reply[56]), 8), QByteArray("1BT V2.0"));
    hid_close(dev);
    QCOMPARE(hid_exit(), 0);

    QCOMPARE(FakeHid::writtenReports(), QList<QByteArray>{HidReport::fromFrame(commandFrame(CmdGetStatus), 2).toByteArray()});
    QCOMPARE(FakeHid::calls(), QStringList({"hid_init", "hid_open 0416:F100 -> ok", "hid_write -> 65",
                                            "hid_read_timeout 300 -> 64", "hid_close", "hid_exit"}));
    QCOMPARE(FakeHid::initCount(), 1);
    QCOMPARE(FakeHid::closeCount(), 1);
    QCOMPARE(FakeHid::exitCount(), 1);
    QCOMPARE(FakeHid::readCount(), 1);
    QCOMPARE(FakeHid::openHandleCount(), 0);
    QCOMPARE(m_reader.framesReceived(), QByteArrayList{commandFrame(CmdGetStatus)});
}

void TestFakeHid::silentReaderTimeoutSleeps()
{
    m_reader.faults().silent = true;
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus), 2), 65);
    Buffer reply{};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 120), 0);
    QVERIFY2(timer.elapsed() >= 110, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 0), 0);
    hid_close(dev);
}

void TestFakeHid::readsThatWouldBlock_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("violates");
    QTest::newRow("hid_read, blocking") << "read" << -1 << true;
    QTest::newRow("hid_read, non-blocking") << "nonblocking" << 0 << false;
    QTest::newRow("hid_read_timeout -1") << "timeout" << -1 << true;
}

void TestFakeHid::readsThatWouldBlock()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    QFETCH(bool, violates);

    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    Buffer reply{};
    int n = 0;
    if (how == QLatin1String("timeout")) {
        n = hid_read_timeout(dev, reply.data(), 65, -1);
    } else {
        QCOMPARE(hid_set_nonblocking(dev, how == QLatin1String("nonblocking")), 0);
        n = hid_read(dev, reply.data(), 65);
    }
    QCOMPARE(n, result);
    QCOMPARE(FakeHid::violations().size(), violates ? 1 : 0);
    QVERIFY(!text(hid_error(dev)).isEmpty());
    hid_close(dev);
    FakeHid::reset();
}

void TestFakeHid::lateReplyPolledAndBlocking()
{
    m_reader.faults().lateReads = 3;
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    Buffer reply{};
    writeFrame(dev, commandFrame(CmdGetPreAmble), 5);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 0), 0);
    QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 0), 64);
    QCOMPARE(reply[48], 0xFA);

    // A blocking read does not see the lateness: it simply waits.
    writeFrame(dev, commandFrame(CmdGetPreAmble), 6);
    QCOMPARE(hid_read(dev, reply.data(), 65), 64);
    QCOMPARE(reply[48], 0xF9);
    hid_close(dev);
}

void TestFakeHid::refusedWrites_data()
{
    QTest::addColumn<int>("refuse");
    QTest::addColumn<bool>("all");
    QTest::addColumn<QList<int>>("results");
    QTest::newRow("next two") << 2 << false << QList<int>{-1, -1, 65, 65};
    QTest::newRow("all") << 0 << true << QList<int>{-1, -1, -1, -1};
    QTest::newRow("none") << 0 << false << QList<int>{65, 65, 65, 65};
}

void TestFakeHid::refusedWrites()
{
    QFETCH(int, refuse);
    QFETCH(bool, all);
    QFETCH(QList<int>, results);

    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    FakeHid::refuseWrites(refuse);
    FakeHid::refuseAllWrites(all);
    QList<int> got;
    for (int i = 0; i < results.size(); ++i) {
        got << writeFrame(dev, commandFrame(CmdFlags, 0x01, quint8(i)));
        if (got.last() < 0)
            QCOMPARE(text(hid_error(dev)), QStringLiteral("Connection timed out"));
    }
    QCOMPARE(got, results);
    QCOMPARE(FakeHid::attemptedWrites().size(), results.size());
    QCOMPARE(FakeHid::writtenReports().size(), int(results.count(65)));
    QCOMPARE(m_reader.framesReceived().size(), int(results.count(65)));
    hid_close(dev);
}

void TestFakeHid::unplugAfterWrites()
{
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    FakeHid::unplugAfterWrites(1);
    QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus), 2), 65);
    QVERIFY(!FakeHid::isPresent());
    QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus), 3), -1);
    Buffer reply{};
    QCOMPARE(hid_read_timeout(dev, reply.data(), 65, 10), -1);
    QCOMPARE(text(hid_error(dev)), QStringLiteral("No such device"));
    QVERIFY(!hid_open(0x0416, 0xF100, nullptr));
    QVERIFY(!hid_enumerate(0, 0));

    FakeHid::plugIn();
    hid_device *again = hid_open(0x0416, 0xF100, nullptr);
    QVERIFY(again);
    QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus), 4), -1); // the old handle stays dead
    QCOMPARE(writeFrame(again, commandFrame(CmdGetStatus), 4), 65);
    hid_close(dev);
    hid_close(again);
}

void TestFakeHid::strings_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<int>("maxlen");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("read");

    const int m = int(FakeHid::Descriptor::Manufacturer);
    QTest::newRow("manufacturer") << m << false << 255 << 0 << "Set Text";
    QTest::newRow("product") << int(FakeHid::Descriptor::Product) << false << 255 << 0 << "Set Text";
    QTest::newRow("serial number") << int(FakeHid::Descriptor::SerialNumber) << false << 255 << 0 << "Set Text";
    QTest::newRow("indexed") << int(FakeHid::Descriptor::Indexed) << false << 255 << 0 << "Set Text";
    QTest::newRow("cut to the buffer") << m << false << 4 << 0 << "Set";
    QTest::newRow("unreadable leaves the buffer") << m << true << 255 << -1 << "";
}

void TestFakeHid::strings()
{
    QFETCH(int, which);
    QFETCH(bool, fails);
    QFETCH(int, maxlen);
    QFETCH(int, result);
    QFETCH(QString, read);

    const auto descriptor = FakeHid::Descriptor(which);
    FakeHid::setString(descriptor, QStringLiteral("Set Text"));
    FakeHid::setStringFails(descriptor, fails);
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    std::array<wchar_t, 255> buffer{};
    int n = -2;
    switch (descriptor) {
    case FakeHid::Descriptor::Manufacturer:
        n = hid_get_manufacturer_string(dev, buffer.data(), size_t(maxlen));
        break;
    case FakeHid::Descriptor::Product:
        n = hid_get_product_string(dev, buffer.data(), size_t(maxlen));
        break;
    case FakeHid::Descriptor::SerialNumber:
        n = hid_get_serial_number_string(dev, buffer.data(), size_t(maxlen));
        break;
    case FakeHid::Descriptor::Indexed:
        n = hid_get_indexed_string(dev, 1, buffer.data(), size_t(maxlen));
        break;
    }
    QCOMPARE(n, result);
    QCOMPARE(QString::fromWCharArray(buffer.data()), read);
    if (fails)
        QVERIFY(!text(hid_error(dev)).isEmpty());
    hid_close(dev);
}

void TestFakeHid::misuse_data()
{
    QTest::addColumn<QString>("misuse");
    QTest::addColumn<QString>("violation");
    QTest::newRow("close twice") << "close twice" << "hid_close: handle closed twice";
    QTest::newRow("write after close") << "write after close" << "hid_write: handle used after hid_close";
    QTest::newRow("read with NULL handle") << "read null" << "hid_read: NULL handle";
    QTest::newRow("handle kept across reset") << "across reset" << "hid_close: handle from before FakeHid::reset()";
}

void TestFakeHid::misuse()
{
    QFETCH(QString, misuse);
    QFETCH(QString, violation);

    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    QVERIFY(dev);
    Buffer reply{};
    if (misuse == QLatin1String("close twice")) {
        hid_close(dev);
        hid_close(dev);
    } else if (misuse == QLatin1String("write after close")) {
        hid_close(dev);
        QCOMPARE(writeFrame(dev, commandFrame(CmdGetStatus)), -1);
        QVERIFY(!text(hid_error(dev)).isEmpty());
    } else if (misuse == QLatin1String("read null")) {
        QCOMPARE(hid_read(nullptr, reply.data(), 65), -1);
        hid_close(dev);
    } else {
        FakeHid::reset();
        hid_close(dev);
    }
    QCOMPARE(FakeHid::violations().value(0), violation);
    FakeHid::reset();
}

void TestFakeHid::versionAndUnsupported()
{
    QCOMPARE(hid_version()->major, 0);
    QCOMPARE(hid_version()->minor, 13);
    QCOMPARE(QByteArray(hid_version_str()), QByteArray("0.13.1"));
    hid_device *dev = hid_open(0x0416, 0xF100, nullptr);
    Buffer buffer{};
    QCOMPARE(hid_send_feature_report(dev, buffer.data(), 65), -1);
    QCOMPARE(hid_get_feature_report(dev, buffer.data(), 65), -1);
    QCOMPARE(hid_get_input_report(dev, buffer.data(), 65), -1);
    QCOMPARE(text(hid_error(nullptr)), QStringLiteral("Success"));
    hid_close(dev);
}

QTEST_GUILESS_MAIN(TestFakeHid)
#include "tst_fakehid.moc"
