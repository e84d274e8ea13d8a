#include "serialports.h"

#include <QDir>
#include <QSerialPortInfo>

QStringList presentSerialPorts(const QString &byIdDir)
{
    QStringList names;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        names << port.systemLocation();
    const QDir byId(byIdDir);
    for (const QString &entry : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        names << byId.filePath(entry);
    names.removeDuplicates();
    return names;
}
