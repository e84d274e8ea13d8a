#pragma once

#include "settings/readersettings.h"
#include "settings/settingswrite.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// Reader settings as a JSON object, for backups, version control and the
// window's settings files:
//   firmware, preamble, postamble, removeData (texts in the window's bracket
//   notation), preambleEnabled, postambleEnabled, removeDataEnabled,
//   autoReport, buzzer (booleans), outputStart, outputLength (0..255),
//   keyboardCountry ("USA", "U.K", "French", "German", "Italy"; USB only).

// Settings as JSON. Key-code texts are those the window shows, except for
// codes that text would change on the way back (see roundTripKeyCodesText).
QJsonObject settingsToJson(const ReaderSettings &settings);

// What a file asks to change; an absent field keeps the reader's value.
struct SettingsPatch
{
    std::optional<bool> removeDataEnabled, postambleEnabled, preambleEnabled, autoReport, buzzer;
    std::optional<int> outputStart, outputLength;
    std::optional<int> keyboardCountry;
    std::optional<QString> preamble, postamble, removeData;
};

// Settings files are small; anything longer is not one.
constexpr qsizetype MaxSettingsFileBytes = 64 * 1024;

// Parses and checks a whole file for a write over transport: JSON, one
// object, no key twice, known fields of the right types and ranges, no
// keyboard country over serial, key-code texts of at most 60 codes made of
// control-code names and characters that come back as written over that
// transport (or the stand-ins settingsToJson writes for the others). On
// failure returns nothing and every problem in errors, one line each,
// naming the field and, in a text, the character.
// A file read into the window's form rather than written (forWrite false)
// may hold a keyboard country whatever the transport: the form keeps it.
std::optional<SettingsPatch> parseSettingsPatch(const QByteArray &json, WriteTransport transport,
                                                QStringList *errors, bool forWrite = true);

// The write the window would make with the reader's current settings in its
// form and the patch typed over them; values the patch leaves alone go back
// exactly as the reader holds them. current must hold every field of its
// transport.
SettingsWriteRequest mergedWriteRequest(const ReaderSettings &current, const SettingsPatch &patch);

// Text the user gave, fit to repeat in a message of one line: quoted, with
// control characters escaped and cut after about 60 characters.
QString quotedForMessage(const QString &text);
