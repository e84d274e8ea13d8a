#include "ptypair.h"

#if defined(Q_OS_UNIX)

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        fail("posix_openpt");
        return;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        fail("grantpt/unlockpt");
        return;
    }
    char name[128] = {};
#if defined(Q_OS_LINUX)
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        fail("ptsname_r");
        return;
    }
#else
    const char *shared = ptsname(m_master);
    if (!shared) {
        fail("ptsname");
        return;
    }
    std::strncpy(name, shared, sizeof name - 1);
#endif
    m_slavePath = QString::fromLocal8Bit(name);

    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        fail("open slave");
        return;
    }
    termios raw{};
    if (tcgetattr(m_slave, &raw) != 0) {
        fail("tcgetattr");
        return;
    }
    cfmakeraw(&raw);
    if (tcsetattr(m_slave, TCSANOW, &raw) != 0) {
        fail("tcsetattr");
        return;
    }
    const int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        fail("fcntl O_NONBLOCK");
}

PtyPair::~PtyPair()
{
    close();
}

bool PtyPair::fail(const char *what)
{
    m_error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
    close();
    return false;
}

void PtyPair::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

#endif // Q_OS_UNIX
