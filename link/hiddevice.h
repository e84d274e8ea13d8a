#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

struct hid_device_;
typedef struct hid_device_ hid_device;

// What the system lists of one HID device.
struct HidDeviceInfo
{
    QByteArray path; // as the system names it: /dev/hidraw3
    QString serialNumber;
    QString product;
};

// One open HID device; closing it is the destructor's job, so no handle
// outlives its owner and none is closed twice. hidapi is initialised while
// any device is open (or being listed or opened) and shut down when the last
// one is gone: this file is the only one that calls hidapi. Any thread may
// list and open devices (hidapi's own shared state is kept behind one lock);
// an open device belongs to one thread at a time.
class HidDevice
{
public:
    ~HidDevice();
    HidDevice(const HidDevice &) = delete;
    HidDevice &operator=(const HidDevice &) = delete;

    // The first device with these ids; null and the reason in *error (and
    // the system's error number in *osError) when none opened.
    static std::unique_ptr<HidDevice> open(quint16 vendorId, quint16 productId, QString *error = nullptr,
                                           int *osError = nullptr);
    // The device at path (one that enumerate listed).
    static std::unique_ptr<HidDevice> openPath(const QByteArray &path, QString *error = nullptr,
                                               int *osError = nullptr);
    static QList<HidDeviceInfo> enumerate(quint16 vendorId, quint16 productId);
    // hidapi's own version, for the About box.
    static QString libraryVersion();

    QByteArray path() const { return m_path; }

    // hidapi's results: bytes moved, 0 when no report came, -1 on failure.
    int write(const unsigned char *data, int length);
    // Waits up to timeoutMs for a report; timeoutMs < 0 waits as the
    // device's mode says (blocking, or not at all when non-blocking).
    int read(unsigned char *data, int length, int timeoutMs = -1);
    bool setNonblocking(bool on);

    enum class Descriptor { Manufacturer, Product, SerialNumber, Indexed1 };
    // Reads a string descriptor into buffer (chars wide characters); hidapi's
    // result.
    int readString(Descriptor which, wchar_t *buffer, int chars);

    // hidapi's text for the last failure on this device.
    QString errorText() const;

private:
    HidDevice(hid_device *handle, QByteArray path);

    hid_device *m_handle;
    QByteArray m_path;
};
