#pragma once

#include "settings/readersettings.h"
#include "settings/settingswrite.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Reader settings as a JSON object, for backups and version control:
//   firmware, preamble, postamble, removeData (texts in the window's bracket
//   notation), preambleEnabled, postambleEnabled, removeDataEnabled,
//   autoReport, buzzer (booleans), outputStart, outputLength (0..255),
//   keyboardCountry ("USA", "U.K", "French", "German", "Italy"; USB only).

// A read as JSON. Key-code texts are those the window shows, except for
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

// Parses and checks a whole file. On failure returns nothing and says why in
// error, one line, naming the field.
std::optional<SettingsPatch> parseSettingsPatch(const QByteArray &json, QString *error);

// The write the window would make with the reader's current settings in its
// form and the patch typed over them. current must hold every field of its
// transport.
SettingsWriteRequest mergedWriteRequest(const ReaderSettings &current, const SettingsPatch &patch);
