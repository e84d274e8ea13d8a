#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class ReaderModel;

// Control of the simulated hidapi that test executables link in place of
// the real one. The reader behind it is a ReaderModel; what goes wrong on
// the cable (refused writes, unplugging, unreadable strings) is set here.
// Every call runs on the calling thread, as the program's hid_* calls do,
// and any thread may make them: each handle is used by one thread at a time,
// as hidapi requires, and a read waiting for its reply holds up no other.
namespace FakeHid {

constexpr quint16 VendorId = 0x0416;
constexpr quint16 ReaderProductId = 0xF100;
constexpr quint16 DiagnosticProductId = 0xC141;

// Absent reader, product 0xF100 only, no faults, default strings, all
// records cleared. Handles from before stay known, so that using one later
// is reported instead of crashing.
void reset();

// The reader behind the cable (not owned; reset() or attach(nullptr)
// before it goes away). nullptr: no device, hid_open returns NULL.
void attach(ReaderModel *model);
ReaderModel *model();

// Which product ids of vendor 0x0416 the attached reader shows up as; one
// enumeration entry and one path ("/dev/hidraw-sim0", ...) for each.
void setProducts(const QList<quint16> &productIds);
// The device is listed but cannot be opened, as a hidraw node without the
// user's permission (errno EACCES).
void setOpenFails(bool fails);

// The next count writes fail with -1 (and do not reach the reader).
void refuseWrites(int count);
void refuseAllWrites(bool refuse);
// The device is gone: open handles fail every write and read with -1,
// enumeration is empty and hid_open returns NULL until plugIn().
void unplugNow();
// count more writes reach the reader, then the device is gone.
void unplugAfterWrites(int count);
void plugIn();
bool isPresent();

// Further readers beside the one attach() puts on the cable, as a bench of
// readers plugged in at once: each its own model (not owned; reset() before
// it goes away), path "/dev/hidraw-simN" and serial number "SIM000(N+1)",
// listed after that one. Returns N. Cable faults of the functions above
// concern only the attached reader; these are their own.
int addReader(ReaderModel *model);
QString readerPath(int number);
QString readerSerialNumber(int number);
void unplugReader(int number);
// count more writes reach it, then it is gone.
void unplugReaderAfterWrites(int number, int count);
void plugInReader(int number);
// The reader's model stops (or starts again) answering; safe while a thread
// talks to it.
void setReaderSilent(int number, bool silent);

enum class Descriptor { Manufacturer, Product, SerialNumber, Indexed };
// Indexed covers every string index of hid_get_indexed_string.
void setString(Descriptor which, const QString &text);
void setStringFails(Descriptor which, bool fails);

struct OpenCall
{
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool withSerialNumber = false; // false: NULL serial number
    bool opened = false;
};

// Every report hid_write handed over that reached the reader, in order.
QList<QByteArray> writtenReports();
// Every hid_write call, refused ones included.
QList<QByteArray> attemptedWrites();
QList<OpenCall> opens();
int openCount();
int closeCount();
int initCount();
int exitCount();
int readCount();       // hid_read and hid_read_timeout calls
int openHandleCount(); // opened and not yet closed
// Every hid_* call in order, one line each, e.g. "hid_open 0416:F100 -> ok",
// "hid_read_timeout 300 -> 64", "hid_close".
QStringList calls();
// Misuse: a handle closed twice or used after closing, NULL or unknown
// handles, a read that would block for ever. Tests assert it stays empty.
QStringList violations();

} // namespace FakeHid
