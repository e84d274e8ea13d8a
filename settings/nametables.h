#pragma once

#include <QString>
#include <QStringList>

// Names of the control codes 0x00..0x1F, indexed by code. 0x00 is "NULL",
// four letters, so that the name pickers can offer it.
extern const QStringList ControlCodeNames;
// Keyboard layouts the reader can type in, indexed by the country code it stores.
extern const QStringList KbCountryNames;
