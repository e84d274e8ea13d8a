#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSocketNotifier;

// A device that came or went, as the system announces it.
struct DeviceEvent
{
    enum class Action { Added, Removed };
    enum class Kind {
        UsbReader,  // a hidraw node of vendor 0416, product f100
        OtherHid,   // any other hidraw node (removals carry no ids)
        SerialPort, // a tty
    };
    Action action = Action::Added;
    Kind kind = Kind::OtherHid;
    QString node; // /dev/hidraw3, /dev/ttyUSB0
};

// Where device events come from: a descriptor that becomes readable when
// one is waiting, and a way to take them.
class DeviceEventSource
{
public:
    virtual ~DeviceEventSource() = default;
    virtual int fd() const = 0;
    // The next event waiting, if any; never blocks.
    virtual std::optional<DeviceEvent> next() = 0;
};

// The system's device events (udev's hidraw and tty subsystems); null where
// there is no udev to ask.
std::unique_ptr<DeviceEventSource> systemDeviceEvents();

// Tells of readers and serial adapters plugged in or pulled out, as the
// system announces them: nothing is polled.
class DeviceMonitor : public QObject
{
    Q_OBJECT

public:
    // A null source watches nothing.
    explicit DeviceMonitor(std::unique_ptr<DeviceEventSource> source, QObject *parent = nullptr);
    ~DeviceMonitor() override;

signals:
    void usbReaderAdded(const QString &node);
    // A hidraw node went (whether it was a reader the system no longer says).
    void hidNodeRemoved(const QString &node);
    void serialPortsChanged();

private:
    void readEvents();

    std::unique_ptr<DeviceEventSource> m_source;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
