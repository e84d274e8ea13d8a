#include "devicemonitor.h"

#include "link/readerlink.h"

#include <QSocketNotifier>

#ifdef TAVRIN_HAVE_LIBUDEV
#include <libudev.h>
#endif

DeviceMonitor::DeviceMonitor(std::unique_ptr<DeviceEventSource> source, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
{
    if (!m_source)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_source->fd(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &DeviceMonitor::readEvents);
}

// The notifier goes before the source whose descriptor it watches.
DeviceMonitor::~DeviceMonitor()
{
    m_notifier.reset();
}

void DeviceMonitor::readEvents()
{
    while (const std::optional<DeviceEvent> event = m_source->next()) {
        switch (event->kind) {
        case DeviceEvent::Kind::SerialPort:
            emit serialPortsChanged();
            break;
        case DeviceEvent::Kind::UsbReader:
            if (event->action == DeviceEvent::Action::Added) {
                emit usbReaderAdded(event->node);
                break;
            }
            emit hidNodeRemoved(event->node);
            break;
        case DeviceEvent::Kind::OtherHid:
            if (event->action == DeviceEvent::Action::Removed)
                emit hidNodeRemoved(event->node);
            break;
        }
    }
}

#ifdef TAVRIN_HAVE_LIBUDEV

namespace {

class UdevEvents : public DeviceEventSource
{
public:
    UdevEvents()
        : m_udev(udev_new())
    {
        if (!m_udev)
            return;
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (!m_monitor)
            return;
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr);
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr);
        if (udev_monitor_enable_receiving(m_monitor) < 0) {
            udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
        }
    }

    ~UdevEvents() override
    {
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
    }

    bool isValid() const { return m_monitor != nullptr; }
    int fd() const override { return udev_monitor_get_fd(m_monitor); }

    std::optional<DeviceEvent> next() override
    {
        // The monitor's socket does not block; an empty read ends the round.
        for (;;) {
            udev_device *device = udev_monitor_receive_device(m_monitor);
            if (!device)
                return std::nullopt;
            std::optional<DeviceEvent> event = eventOf(device);
            udev_device_unref(device);
            if (event)
                return event;
        }
    }

private:
    static std::optional<DeviceEvent> eventOf(udev_device *device)
    {
        const char *action = udev_device_get_action(device);
        const char *node = udev_device_get_devnode(device);
        const char *subsystem = udev_device_get_subsystem(device);
        if (!action || !node || !subsystem)
            return std::nullopt;
        DeviceEvent event;
        event.node = QString::fromLocal8Bit(node);
        if (qstrcmp(action, "add") == 0)
            event.action = DeviceEvent::Action::Added;
        else if (qstrcmp(action, "remove") == 0)
            event.action = DeviceEvent::Action::Removed;
        else
            return std::nullopt;
        if (qstrcmp(subsystem, "tty") == 0) {
            event.kind = DeviceEvent::Kind::SerialPort;
            return event;
        }
        event.kind = isReader(device) ? DeviceEvent::Kind::UsbReader : DeviceEvent::Kind::OtherHid;
        return event;
    }

    // The HID device above a hidraw node carries "bus:vendor:product".
    static bool isReader(udev_device *hidraw)
    {
        udev_device *hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
        const char *id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
        if (!id)
            return false;
        const QList<QByteArray> parts = QByteArray(id).split(':');
        bool vendorOk = false;
        bool productOk = false;
        return parts.size() == 3 && parts[1].toUInt(&vendorOk, 16) == ReaderLink::VendorId && vendorOk
            && parts[2].toUInt(&productOk, 16) == ReaderLink::ProductId && productOk;
    }

    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
};

} // namespace

std::unique_ptr<DeviceEventSource> systemDeviceEvents()
{
    auto events = std::make_unique<UdevEvents>();
    if (!events->isValid())
        return nullptr;
    return events;
}

#else

std::unique_ptr<DeviceEventSource> systemDeviceEvents()
{
    return nullptr;
}

#endif
