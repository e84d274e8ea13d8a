#pragma once

#include "link/devicemonitor.h"

// Device events a test sends, carried over a socket pair as the system's
// would come over udev's socket.
class FakeDeviceEvents : public DeviceEventSource
{
public:
    FakeDeviceEvents();
    ~FakeDeviceEvents() override;

    int fd() const override { return m_fds[0]; }
    std::optional<DeviceEvent> next() override;

    void send(DeviceEvent::Action action, DeviceEvent::Kind kind, const QString &node);

private:
    int m_fds[2] = {-1, -1};
};
