// A simulated hidapi. Test executables link this in place of the real
// library, so the program's own hid_* calls reach a ReaderModel.

#include "support/fakehid.h"

#include "readermodel.h"

#include <hidapi.h>

#include <QThread>

#include <mutex>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

struct hid_device_
{
    quint16 productId = 0;
    // Which of FakeHid::addReader's readers it reaches; -1: the one attach()
    // puts on the cable.
    int reader = -1;
    bool closed = false;
    bool dead = false;  // the device went away while this handle was open
    bool stale = false; // opened before FakeHid::reset()
    bool nonblocking = false;
    std::wstring error;
    hid_device_info *info = nullptr;
    // A handle left open (or kept across FakeHid::reset()) still owns its info.
    ~hid_device_();
};

namespace {

const wchar_t *const NoError = L"Success";
const wchar_t *const GoneError = L"No such device";
const wchar_t *const RefusedError = L"Connection timed out";

struct DescriptorString
{
    std::wstring text;
    bool fails = false;
};

// One of the further readers of FakeHid::addReader.
struct SimReader
{
    ReaderModel *model = nullptr;
    int number = 0;
    std::wstring serial;
    bool unplugged = false;
    int unplugAfter = -1;
};

struct State
{
    ReaderModel *model = nullptr;
    QList<quint16> products{FakeHid::ReaderProductId};
    bool openFails = false;
    int refuseNext = 0;
    bool refuseAll = false;
    bool unplugged = false;
    int unplugAfter = -1;
    std::array<DescriptorString, 4> strings{{
        {L"Simulated Reader Works", false},
        {L"iButton Reader", false},
        {L"SIM0001", false},
        {L"Simulated Reader Works", false},
    }};
    QList<QByteArray> written;
    QList<QByteArray> attempted;
    QList<FakeHid::OpenCall> opens;
    int closes = 0;
    int inits = 0;
    int exits = 0;
    int reads = 0;
    QStringList calls;
    QStringList violations;
    std::wstring error;
    std::vector<SimReader> readers;
};

// Every call, from whichever thread, holds it while it looks at or changes
// the state; a read lets go of it while the reader takes its time.
std::recursive_mutex &stateLock()
{
    static std::recursive_mutex lock;
    return lock;
}

using Guard = std::lock_guard<std::recursive_mutex>;

State &state()
{
    static State s;
    return s;
}

// Handles are never freed: a pointer the program kept after closing must
// never come to name a new handle.
std::vector<std::unique_ptr<hid_device_>> &handles()
{
    static std::vector<std::unique_ptr<hid_device_>> all;
    return all;
}

void call(const QString &line)
{
    state().calls.append(line);
}

void violation(const char *function, const char *what)
{
    state().violations.append(QStringLiteral("%1: %2").arg(QLatin1String(function), QLatin1String(what)));
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

bool present()
{
    return state().model && !state().unplugged;
}

bool readerPresent(const SimReader &r)
{
    return r.model && !r.unplugged;
}

SimReader *readerOf(const hid_device_ *h)
{
    auto &readers = state().readers;
    return h->reader >= 0 && size_t(h->reader) < readers.size() ? &readers[size_t(h->reader)] : nullptr;
}

// Whether the device behind the handle is still on the cable.
bool present(const hid_device_ *h)
{
    if (h->reader < 0)
        return present();
    const SimReader *r = readerOf(h);
    return r && readerPresent(*r);
}

ReaderModel *modelOf(const hid_device_ *h)
{
    if (h->reader < 0)
        return state().model;
    const SimReader *r = readerOf(h);
    return r ? r->model : nullptr;
}

QString simPath(int index)
{
    return QStringLiteral("/dev/hidraw-sim%1").arg(index);
}

// The handle behind dev if the program may use it; otherwise the misuse is
// recorded and nullptr returned. Never dereferences a pointer it does not
// know.
hid_device_ *usable(hid_device *dev, const char *function)
{
    if (!dev) {
        violation(function, "NULL handle");
        return nullptr;
    }
    auto &all = handles();
    const auto it = std::find_if(all.begin(), all.end(), [dev](const auto &h) { return h.get() == dev; });
    if (it == all.end()) {
        violation(function, "unknown handle");
        return nullptr;
    }
    if ((*it)->stale) {
        violation(function, "handle from before FakeHid::reset()");
        return nullptr;
    }
    if ((*it)->closed) {
        violation(function, "handle used after hid_close");
        return nullptr;
    }
    return it->get();
}

wchar_t *wideCopy(const std::wstring &text)
{
    auto *copy = new wchar_t[text.size() + 1];
    std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

hid_device_info *newInfo(int number, quint16 productId, const std::wstring &serial)
{
    const State &s = state();
    auto *info = new hid_device_info{};
    const QByteArray path = simPath(number).toLatin1();
    info->path = new char[size_t(path.size()) + 1];
    std::memcpy(info->path, path.constData(), size_t(path.size()) + 1);
    info->vendor_id = FakeHid::VendorId;
    info->product_id = productId;
    info->serial_number = wideCopy(serial);
    info->release_number = 0x0100;
    info->manufacturer_string = wideCopy(s.strings[size_t(FakeHid::Descriptor::Manufacturer)].text);
    info->product_string = wideCopy(s.strings[size_t(FakeHid::Descriptor::Product)].text);
    info->usage_page = 0x0001;
    info->usage = 0x0006;
    info->interface_number = 0;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

hid_device_info *newInfo(int index)
{
    const State &s = state();
    return newInfo(index, s.products.value(index), s.strings[size_t(FakeHid::Descriptor::SerialNumber)].text);
}

hid_device_info *newInfo(const SimReader &r)
{
    return newInfo(r.number, FakeHid::ReaderProductId, r.serial);
}

void freeInfo(hid_device_info *info)
{
    if (!info)
        return;
    delete[] info->path;
    delete[] info->serial_number;
    delete[] info->manufacturer_string;
    delete[] info->product_string;
    delete info;
}

} // namespace

hid_device_::~hid_device_()
{
    freeInfo(info);
}

namespace {

// The handles of the reader attach() put on the cable (reader -1) or of one
// of addReader's.
void killOpenHandles(int reader = -1)
{
    for (auto &h : handles())
        if (!h->closed && !h->stale && h->reader == reader)
            h->dead = true;
}

void unplug()
{
    state().unplugged = true;
    state().unplugAfter = -1;
    killOpenHandles();
}

hid_device *openProduct(int index)
{
    auto h = std::make_unique<hid_device_>();
    h->productId = state().products.value(index);
    h->info = newInfo(index);
    handles().push_back(std::move(h));
    state().error.clear();
    return handles().back().get();
}

hid_device *openReader(size_t reader)
{
    auto h = std::make_unique<hid_device_>();
    h->productId = FakeHid::ReaderProductId;
    h->reader = int(reader);
    h->info = newInfo(state().readers[reader]);
    handles().push_back(std::move(h));
    state().error.clear();
    return handles().back().get();
}

// The further reader at path, if one is plugged in there.
int readerAt(const char *path)
{
    const auto &readers = state().readers;
    for (size_t i = 0; i < readers.size(); ++i) {
        if (readerPresent(readers[i]) && simPath(readers[i].number) == QLatin1String(path))
            return int(i);
    }
    return -1;
}

int readReport(hid_device *dev, unsigned char *data, size_t length, int milliseconds, const char *function)
{
    std::unique_lock<std::recursive_mutex> locked(stateLock());
    State &s = state();
    ++s.reads;
    const QString name = QLatin1String(function);
    hid_device_ *h = usable(dev, function);
    if (!h || !data) {
        if (h)
            violation(function, "NULL buffer");
        call(name + QStringLiteral(" -> -1"));
        return -1;
    }
    if (h->dead || !present(h)) {
        h->error = GoneError;
        call(name + QStringLiteral(" -> -1"));
        return -1;
    }
    const bool blocking = milliseconds < 0;
    // The reader takes its time to answer; a read that waits long enough
    // gets the reply as soon as it is due, not at the end of its wait.
    // Other readers go on meanwhile.
    int waitLeft = milliseconds;
    const int due = modelOf(h)->msUntilReadable();
    if (due > 0 && (blocking || due <= milliseconds)) {
        locked.unlock();
        QThread::msleep(ulong(due));
        locked.lock();
        waitLeft -= due;
        if (h->dead || !present(h)) {
            h->error = GoneError;
            call(name + QStringLiteral(" -> -1"));
            return -1;
        }
    }
    const QByteArray report = modelOf(h)->usbRead(blocking ? ReaderModel::UsbRead::Block
                                                          : ReaderModel::UsbRead::Poll);
    int result = 0;
    if (!report.isEmpty()) {
        result = int(std::min<size_t>(length, size_t(report.size())));
        std::memcpy(data, report.constData(), size_t(result));
    } else if (blocking) {
        // The real call would wait for ever; a test must not.
        violation(function, "blocking read with nothing to read would never return");
        result = -1;
        h->error = L"Simulated reader: read would block for ever";
    } else if (waitLeft > 0) {
        locked.unlock();
        QThread::msleep(ulong(waitLeft));
        locked.lock();
    }
    call(name + (std::strcmp(function, "hid_read_timeout") == 0 ? QStringLiteral(" %1").arg(milliseconds) : QString())
         + QStringLiteral(" -> %1").arg(result));
    return result;
}

int readString(hid_device *dev, FakeHid::Descriptor which, wchar_t *string, size_t maxlen, const char *function)
{
    const Guard locked(stateLock());
    hid_device_ *h = usable(dev, function);
    int result = -1;
    if (h && (!string || maxlen == 0)) {
        violation(function, "no buffer");
    } else if (h && (h->dead || !present(h))) {
        h->error = GoneError;
    } else if (h) {
        DescriptorString d = state().strings[size_t(which)];
        if (const SimReader *r = readerOf(h); r && which == FakeHid::Descriptor::SerialNumber)
            d = {r->serial, false};
        if (d.fails) {
            h->error = L"Simulated reader: string descriptor unreadable";
        } else {
            std::wcsncpy(string, d.text.c_str(), maxlen);
            string[maxlen - 1] = L'\0';
            result = 0;
        }
    }
    call(QStringLiteral("%1 -> %2").arg(QLatin1String(function)).arg(result));
    return result;
}

} // namespace

// ---- Control -------------------------------------------------------------

namespace FakeHid {

void reset()
{
    const Guard locked(stateLock());
    for (auto &h : handles())
        h->stale = true;
    state() = State{};
}

int addReader(ReaderModel *model)
{
    const Guard locked(stateLock());
    State &s = state();
    SimReader r;
    r.model = model;
    r.number = int(s.products.size() + s.readers.size());
    r.serial = QStringLiteral("SIM%1").arg(r.number + 1, 4, 10, QLatin1Char('0')).toStdWString();
    s.readers.push_back(r);
    return r.number;
}

namespace {

SimReader *numbered(int number)
{
    for (SimReader &r : state().readers) {
        if (r.number == number)
            return &r;
    }
    return nullptr;
}

int indexOf(const SimReader *r)
{
    return int(r - state().readers.data());
}

} // namespace

QString readerPath(int number)
{
    return simPath(number);
}

QString readerSerialNumber(int number)
{
    const Guard locked(stateLock());
    const SimReader *r = numbered(number);
    return r ? QString::fromStdWString(r->serial) : QString();
}

void unplugReader(int number)
{
    const Guard locked(stateLock());
    if (SimReader *r = numbered(number)) {
        r->unplugged = true;
        r->unplugAfter = -1;
        killOpenHandles(indexOf(r));
    }
}

void unplugReaderAfterWrites(int number, int count)
{
    const Guard locked(stateLock());
    if (SimReader *r = numbered(number)) {
        if (count <= 0) {
            r->unplugged = true;
            killOpenHandles(indexOf(r));
        } else {
            r->unplugAfter = count;
        }
    }
}

void plugInReader(int number)
{
    const Guard locked(stateLock());
    if (SimReader *r = numbered(number)) {
        r->unplugged = false;
        r->unplugAfter = -1;
    }
}

void setReaderSilent(int number, bool silent)
{
    const Guard locked(stateLock());
    if (SimReader *r = numbered(number); r && r->model)
        r->model->faults().silent = silent;
}

void attach(ReaderModel *model)
{
    const Guard locked(stateLock());
    if (!model)
        killOpenHandles();
    state().model = model;
}

ReaderModel *model()
{
    return state().model;
}

void setProducts(const QList<quint16> &productIds)
{
    const Guard locked(stateLock());
    state().products = productIds;
}

void setOpenFails(bool fails)
{
    const Guard locked(stateLock());
    state().openFails = fails;
}

void refuseWrites(int count)
{
    const Guard locked(stateLock());
    state().refuseNext = std::max(0, count);
}

void refuseAllWrites(bool refuse)
{
    const Guard locked(stateLock());
    state().refuseAll = refuse;
}

void unplugNow()
{
    const Guard locked(stateLock());
    unplug();
}

void unplugAfterWrites(int count)
{
    const Guard locked(stateLock());
    if (count <= 0)
        unplug();
    else
        state().unplugAfter = count;
}

void plugIn()
{
    const Guard locked(stateLock());
    state().unplugged = false;
    state().unplugAfter = -1;
}

bool isPresent()
{
    const Guard locked(stateLock());
    return present();
}

void setString(Descriptor which, const QString &text)
{
    const Guard locked(stateLock());
    state().strings[size_t(which)].text = text.toStdWString();
}

void setStringFails(Descriptor which, bool fails)
{
    const Guard locked(stateLock());
    state().strings[size_t(which)].fails = fails;
}

QList<QByteArray> writtenReports()
{
    const Guard locked(stateLock());
    return state().written; }
QList<QByteArray> attemptedWrites()
{
    const Guard locked(stateLock());
    return state().attempted; }
QList<OpenCall> opens()
{
    const Guard locked(stateLock());
    return state().opens; }
int openCount()
{
    const Guard locked(stateLock());
    return int(state().opens.size()); }
int closeCount()
{
    const Guard locked(stateLock());
    return state().closes; }
int initCount()
{
    const Guard locked(stateLock());
    return state().inits; }
int exitCount()
{
    const Guard locked(stateLock());
    return state().exits; }
int readCount()
{
    const Guard locked(stateLock());
    return state().reads; }
QStringList calls()
{
    const Guard locked(stateLock());
    return state().calls; }
QStringList violations()
{
    const Guard locked(stateLock());
    return state().violations; }

int openHandleCount()
{
    const Guard locked(stateLock());
    return int(std::count_if(handles().begin(), handles().end(),
                             [](const auto &h) { return !h->closed && !h->stale; }));
}

} // namespace FakeHid

// ---- hidapi --------------------------------------------------------------

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    const Guard locked(stateLock());
    ++state().inits;
    call(QStringLiteral("hid_init"));
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    const Guard locked(stateLock());
    if (FakeHid::openHandleCount() > 0)
        violation("hid_exit", "hidapi shut down under an open handle");
    ++state().exits;
    call(QStringLiteral("hid_exit"));
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    const Guard locked(stateLock());
    call(QStringLiteral("hid_enumerate %1:%2").arg(hex4(vendor_id), hex4(product_id)));
    if (vendor_id != 0 && vendor_id != FakeHid::VendorId)
        return nullptr;
    hid_device_info *first = nullptr;
    hid_device_info **tail = &first;
    const QList<quint16> &products = state().products;
    for (int i = 0; present() && i < products.size(); ++i) {
        if (product_id != 0 && product_id != products[i])
            continue;
        *tail = newInfo(i);
        tail = &(*tail)->next;
    }
    for (const SimReader &r : state().readers) {
        if (!readerPresent(r) || (product_id != 0 && product_id != FakeHid::ReaderProductId))
            continue;
        *tail = newInfo(r);
        tail = &(*tail)->next;
    }
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        freeInfo(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t *serial_number)
{
    const Guard locked(stateLock());
    State &s = state();
    FakeHid::OpenCall record{vendor_id, product_id, serial_number != nullptr, false};
    int index = -1;
    if (present() && !s.openFails && (vendor_id == 0 || vendor_id == FakeHid::VendorId)) {
        for (int i = 0; i < s.products.size() && index < 0; ++i)
            if (product_id == 0 || product_id == s.products[i])
                index = i;
        const std::wstring &serial = s.strings[size_t(FakeHid::Descriptor::SerialNumber)].text;
        if (serial_number && serial != serial_number)
            index = -1;
    }
    hid_device *dev = nullptr;
    int further = -1;
    if (index < 0 && (vendor_id == 0 || vendor_id == FakeHid::VendorId)
        && (product_id == 0 || product_id == FakeHid::ReaderProductId)) {
        for (size_t i = 0; i < s.readers.size() && further < 0; ++i) {
            if (readerPresent(s.readers[i]) && (!serial_number || s.readers[i].serial == serial_number))
                further = int(i);
        }
    }
    if (index >= 0) {
        dev = openProduct(index);
        record.opened = true;
    } else if (further >= 0) {
        dev = openReader(size_t(further));
        record.opened = true;
    } else if (present() && s.openFails) {
        // As the system refuses a hidraw node the user may not open.
        errno = EACCES;
        s.error = L"Failed to open a device with path '/dev/hidraw-sim0': Permission denied";
    } else {
        s.error = L"No HID devices with requested VID/PID found in the system.";
    }
    s.opens.append(record);
    call(QStringLiteral("hid_open %1:%2 -> %3")
             .arg(hex4(vendor_id), hex4(product_id), dev ? QStringLiteral("ok") : QStringLiteral("null")));
    return dev;
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    const Guard locked(stateLock());
    State &s = state();
    int index = -1;
    if (path && present() && !s.openFails)
        for (int i = 0; i < s.products.size() && index < 0; ++i)
            if (simPath(i) == QLatin1String(path))
                index = i;
    const int further = path && index < 0 ? readerAt(path) : -1;
    FakeHid::OpenCall record{FakeHid::VendorId,
                             quint16(index >= 0 ? s.products[index] : further >= 0 ? FakeHid::ReaderProductId : 0),
                             false, false};
    hid_device *dev = nullptr;
    if (index >= 0) {
        dev = openProduct(index);
        record.opened = true;
    } else if (further >= 0) {
        dev = openReader(size_t(further));
        record.opened = true;
    } else {
        if (present() && s.openFails)
            errno = EACCES;
        s.error = L"Unable to open the device";
    }
    s.opens.append(record);
    call(QStringLiteral("hid_open_path %1 -> %2")
             .arg(QLatin1String(path ? path : "(null)"), dev ? QStringLiteral("ok") : QStringLiteral("null")));
    return dev;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    const Guard locked(stateLock());
    State &s = state();
    hid_device_ *h = usable(dev, "hid_write");
    int result = -1;
    if (h && !data) {
        violation("hid_write", "NULL buffer");
    } else if (h) {
        const QByteArray report(reinterpret_cast<const char *>(data), int(length));
        s.attempted.append(report);
        if (h->dead || !present(h)) {
            h->error = GoneError;
        } else if (h->reader < 0 && (s.refuseAll || s.refuseNext > 0)) {
            if (s.refuseNext > 0)
                --s.refuseNext;
            h->error = RefusedError;
        } else {
            s.written.append(report);
            h->error.clear();
            modelOf(h)->usbWrite(report);
            result = int(length);
            if (SimReader *r = readerOf(h)) {
                if (r->unplugAfter > 0 && --r->unplugAfter == 0) {
                    r->unplugged = true;
                    killOpenHandles(h->reader);
                }
            } else if (s.unplugAfter > 0 && --s.unplugAfter == 0) {
                unplug();
            }
        }
    }
    call(QStringLiteral("hid_write -> %1").arg(result));
    return result;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data, size_t length,
                                                 int milliseconds)
{
    return readReport(dev, data, length, milliseconds, "hid_read_timeout");
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    bool nonblocking = false;
    {
        const Guard locked(stateLock());
        hid_device_ *h = usable(dev, "hid_read");
        if (!h) {
            ++state().reads;
            call(QStringLiteral("hid_read -> -1"));
            return -1;
        }
        nonblocking = h->nonblocking;
    }
    return readReport(dev, data, length, nonblocking ? 0 : -1, "hid_read");
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    const Guard locked(stateLock());
    hid_device_ *h = usable(dev, "hid_set_nonblocking");
    call(QStringLiteral("hid_set_nonblocking %1 -> %2").arg(nonblock).arg(h ? 0 : -1));
    if (!h)
        return -1;
    h->nonblocking = nonblock != 0;
    return 0;
}

namespace {

int unsupported(hid_device *dev, const char *function)
{
    const Guard locked(stateLock());
    if (hid_device_ *h = usable(dev, function))
        h->error = L"Not supported by the simulated reader";
    call(QStringLiteral("%1 -> -1").arg(QLatin1String(function)));
    return -1;
}

} // namespace

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *dev, const unsigned char *, size_t)
{
    return unsupported(dev, "hid_send_feature_report");
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *dev, unsigned char *, size_t)
{
    return unsupported(dev, "hid_get_feature_report");
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *dev, unsigned char *, size_t)
{
    return unsupported(dev, "hid_get_input_report");
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    const Guard locked(stateLock());
    call(QStringLiteral("hid_close"));
    if (!dev)
        return; // hidapi accepts NULL
    auto &all = handles();
    const auto it = std::find_if(all.begin(), all.end(), [dev](const auto &h) { return h.get() == dev; });
    if (it != all.end() && (*it)->closed && !(*it)->stale) {
        violation("hid_close", "handle closed twice");
        return;
    }
    hid_device_ *h = usable(dev, "hid_close");
    if (!h)
        return;
    h->closed = true;
    freeInfo(h->info);
    h->info = nullptr;
    ++state().closes;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return readString(dev, FakeHid::Descriptor::Manufacturer, string, maxlen, "hid_get_manufacturer_string");
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return readString(dev, FakeHid::Descriptor::Product, string, maxlen, "hid_get_product_string");
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return readString(dev, FakeHid::Descriptor::SerialNumber, string, maxlen, "hid_get_serial_number_string");
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device *dev, int, wchar_t *string, size_t maxlen)
{
    return readString(dev, FakeHid::Descriptor::Indexed, string, maxlen, "hid_get_indexed_string");
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_get_device_info(hid_device *dev)
{
    const Guard locked(stateLock());
    hid_device_ *h = usable(dev, "hid_get_device_info");
    call(QStringLiteral("hid_get_device_info"));
    return h ? h->info : nullptr;
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
    const Guard locked(stateLock());
    if (!dev) {
        const std::wstring &error = state().error;
        return error.empty() ? NoError : error.c_str();
    }
    hid_device_ *h = usable(dev, "hid_error");
    if (!h)
        return L"Invalid device handle";
    return h->error.empty() ? NoError : h->error.c_str();
}

HID_API_EXPORT const struct hid_api_version *HID_API_CALL hid_version(void)
{
    static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char *HID_API_CALL hid_version_str(void)
{
    return HID_API_VERSION_STR;
}
