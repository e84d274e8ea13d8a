#include "hiddevice.h"

#include <hidapi.h>

#include <QMutex>
#include <QMutexLocker>

#include <cerrno>

namespace {

// hidapi's initialisation, its enumeration (which hid_open runs too) and its
// global error text are not thread-safe; a handle used by one thread at a
// time is. Everything but the use of an open handle holds this lock.
QMutex &libraryLock()
{
    static QMutex lock;
    return lock;
}

// Devices open, plus listings and opens under way. hidapi is initialised
// when the first starts and shut down when the last ends, so that hid_exit
// never runs under an open handle. Changed under libraryLock() only.
int libraryUsers = 0;

void useLibrary()
{
    if (libraryUsers++ == 0)
        hid_init();
}

void releaseLibrary()
{
    if (--libraryUsers == 0)
        hid_exit();
}

QString wide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

QString globalError()
{
    return wide(hid_error(nullptr));
}

QByteArray pathOf(hid_device *handle)
{
    const hid_device_info *info = hid_get_device_info(handle);
    return info && info->path ? QByteArray(info->path) : QByteArray();
}

// What an open leaves behind: hidapi's reason and errno when it failed.
hid_device *opened(hid_device *handle, QString *error, int *osError)
{
    if (handle)
        return handle;
    if (osError)
        *osError = errno;
    if (error)
        *error = globalError();
    releaseLibrary();
    return nullptr;
}

} // namespace

HidDevice::HidDevice(hid_device *handle, QByteArray path)
    : m_handle(handle)
    , m_path(std::move(path))
{
}

HidDevice::~HidDevice()
{
    hid_close(m_handle);
    const QMutexLocker locked(&libraryLock());
    releaseLibrary();
}

std::unique_ptr<HidDevice> HidDevice::open(quint16 vendorId, quint16 productId, QString *error, int *osError)
{
    const QMutexLocker locked(&libraryLock());
    useLibrary();
    errno = 0;
    hid_device *handle = opened(hid_open(vendorId, productId, nullptr), error, osError);
    return handle ? std::unique_ptr<HidDevice>(new HidDevice(handle, pathOf(handle))) : nullptr;
}

std::unique_ptr<HidDevice> HidDevice::openPath(const QByteArray &path, QString *error, int *osError)
{
    const QMutexLocker locked(&libraryLock());
    useLibrary();
    errno = 0;
    hid_device *handle = opened(hid_open_path(path.constData()), error, osError);
    return handle ? std::unique_ptr<HidDevice>(new HidDevice(handle, path)) : nullptr;
}

QList<HidDeviceInfo> HidDevice::enumerate(quint16 vendorId, quint16 productId)
{
    QList<HidDeviceInfo> found;
    const QMutexLocker locked(&libraryLock());
    useLibrary();
    hid_device_info *devices = hid_enumerate(vendorId, productId);
    for (const hid_device_info *d = devices; d; d = d->next) {
        HidDeviceInfo info;
        info.path = QByteArray(d->path);
        info.serialNumber = wide(d->serial_number);
        info.product = wide(d->product_string);
        found.append(info);
    }
    hid_free_enumeration(devices);
    releaseLibrary();
    return found;
}

QString HidDevice::libraryVersion()
{
    return QString::fromLatin1(hid_version_str());
}

int HidDevice::write(const unsigned char *data, int length)
{
    return hid_write(m_handle, data, size_t(length));
}

int HidDevice::read(unsigned char *data, int length, int timeoutMs)
{
    if (timeoutMs < 0)
        return hid_read(m_handle, data, size_t(length));
    return hid_read_timeout(m_handle, data, size_t(length), timeoutMs);
}

bool HidDevice::setNonblocking(bool on)
{
    return hid_set_nonblocking(m_handle, on ? 1 : 0) == 0;
}

int HidDevice::readString(Descriptor which, wchar_t *buffer, int chars)
{
    const size_t size = size_t(chars);
    switch (which) {
    case Descriptor::Manufacturer:
        return hid_get_manufacturer_string(m_handle, buffer, size);
    case Descriptor::Product:
        return hid_get_product_string(m_handle, buffer, size);
    case Descriptor::SerialNumber:
        return hid_get_serial_number_string(m_handle, buffer, size);
    case Descriptor::Indexed1:
        break;
    }
    return hid_get_indexed_string(m_handle, 1, buffer, size);
}

QString HidDevice::errorText() const
{
    return wide(hid_error(m_handle));
}
