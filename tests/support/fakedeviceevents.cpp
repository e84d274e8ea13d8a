#include "fakedeviceevents.h"

#include <QByteArray>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// One datagram an event: action, kind, the node's path.
constexpr int RecordSize = 256;

} // namespace

FakeDeviceEvents::FakeDeviceEvents()
{
    socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds);
}

FakeDeviceEvents::~FakeDeviceEvents()
{
    for (const int fd : m_fds) {
        if (fd >= 0)
            close(fd);
    }
}

std::optional<DeviceEvent> FakeDeviceEvents::next()
{
    char record[RecordSize] = {};
    if (recv(m_fds[0], record, sizeof record, MSG_DONTWAIT) < 2)
        return std::nullopt;
    DeviceEvent event;
    event.action = DeviceEvent::Action(record[0]);
    event.kind = DeviceEvent::Kind(record[1]);
    event.node = QString::fromUtf8(record + 2);
    return event;
}

void FakeDeviceEvents::send(DeviceEvent::Action action, DeviceEvent::Kind kind, const QString &node)
{
    QByteArray record(RecordSize, '\0');
    record[0] = char(action);
    record[1] = char(kind);
    const QByteArray path = node.toUtf8().left(RecordSize - 3);
    record.replace(2, path.size(), path);
    ::send(m_fds[1], record.constData(), size_t(record.size()), 0);
}
