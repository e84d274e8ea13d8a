#pragma once

#include "settings/readersettings.h"

#include <QList>
#include <QString>

class ReaderLink;

// Whether a write took: the settings are read back as "Get Status" reads
// them and compared with what was sent.
namespace SettingsVerify {

// One setting the reader holds otherwise than it was sent, as the user
// knows it: the form's label, the values as the form would show them.
struct Difference
{
    QString field;
    QString sent;
    QString held;
};

struct Outcome
{
    // The reader answered the read-back with every value.
    bool answered = false;
    QList<Difference> differences;

    bool confirmed() const { return answered && differences.isEmpty(); }
};

// What the reader holds against sent, field by field; a field sent absent
// (the keyboard country over serial) is not compared.
QList<Difference> compare(const ReaderSettings &sent, const ReaderSettings &held);

// Reads the settings back over the link's transport and compares them.
Outcome readBack(ReaderLink &link, const ReaderSettings &sent);

// What to tell the user when the write was not confirmed: each difference
// on a line of its own, or that the reader did not answer. Empty when it was.
QString message(const Outcome &outcome);

} // namespace SettingsVerify
