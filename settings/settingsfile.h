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
//   keyboardCountry ("USA", "U.K", "French", "German", "Italy", or the byte
//   as a number when it is none of them; USB only), unnamedFlags (the flags
//   byte's bits 5..7, which the program has no name for; only when set).

// Settings as JSON. Key-code texts are those the window shows, except for
// codes that text would change on the way back (see roundTripKeyCodesText).
QJsonObject settingsToJson(const ReaderSettings &settings);

// What a person reads for a settings file's key: the form's label beside its
// field ("outputLength" is "Output length"); a key the file does not know
// stays as it is. JSON keeps the keys.
QString settingLabel(const QString &key);

// What a file asks to change; an absent field keeps the reader's value.
struct SettingsPatch
{
    std::optional<bool> removeDataEnabled, postambleEnabled, preambleEnabled, autoReport, buzzer;
    std::optional<int> outputStart, outputLength;
    std::optional<int> keyboardCountry;
    std::optional<int> unnamedFlags; // bits 5..7 of the flags byte
    std::optional<QString> preamble, postamble, removeData;
};

// Settings files are small; anything longer is not one.
constexpr qsizetype MaxSettingsFileBytes = 64 * 1024;

// Output start and length as the form shows them (-128..127) or as the
// byte's value (0..255).
constexpr int MinOutputValue = -128;
constexpr int MaxOutputValue = 255;

// Where a key-code text comes from: typed into the window's form, or from a
// settings file, which may also hold the stand-ins settingsToJson writes and
// the "[NUL]" of older files.
enum class TextNotation { Form, File };

// Why text cannot be written over transport as it stands, one line a
// problem, each naming field as given: more key codes than a read shows, a
// bracketed name that is no control-code name, a character that the read
// would show as another. Empty when the text may be written.
QStringList keyCodeTextProblems(const QString &field, const QString &text, WriteTransport transport,
                                TextNotation notation);

// Why an output number cannot be written (nothing when it can): it must be
// a whole number from MinOutputValue to MaxOutputValue; no number at all
// is refused too.
std::optional<QString> outputNumberProblem(const QString &field, std::optional<double> number);

// Why the form's write cannot be sent as it stands, one line a problem,
// naming each field by the label the window shows beside it; empty when it
// can. The checks are those a settings file goes through.
QStringList writeRequestProblems(const SettingsWriteRequest &request, WriteTransport transport);

// Parses and checks a whole file for a write over transport: JSON, one
// object, no key twice, known fields of the right types and ranges, key-code
// texts that keyCodeTextProblems takes. On failure returns nothing and every
// problem in errors, one line each, naming the field and, in a text, the
// character.
// A field the transport cannot carry (the keyboard country over serial) is
// kept in the patch, so that one file serves readers on either interface;
// a write leaves it out (leftOutOver says so). strict refuses it instead.
// fileName, when the settings come from a file, names it in a JSON mistake
// (jsonMistake).
std::optional<SettingsPatch> parseSettingsPatch(const QByteArray &json, WriteTransport transport,
                                                QStringList *errors, bool strict = false,
                                                const QString &fileName = QString());

// Why json is no JSON at all, where a person can find it: "site.json:3:14:
// illegal value", "site.json is empty" (without a file name, "line 3,
// column 14: ..."); nothing when it parses.
std::optional<QString> jsonMistake(const QByteArray &json, const QString &fileName);

// The fields of patch a write over transport leaves out, one note each:
// "keyboardCountry is not written over a serial port". Empty when it
// carries them all.
QStringList leftOutOver(const SettingsPatch &patch, WriteTransport transport);
// The same, taking those fields out of patch: for a form, which must not
// show a value its reader will never be sent.
QStringList takeOutUncarried(SettingsPatch &patch, WriteTransport transport);

// The write the window would make with the reader's current settings in its
// form and the file loaded over them, byte for byte on either transport;
// values the patch leaves alone go back exactly as the reader holds them.
// current must hold every field of its transport.
SettingsWriteRequest mergedWriteRequest(const ReaderSettings &current, const SettingsPatch &patch);

// Text the user gave, fit to repeat in a message of one line: quoted, with
// control characters escaped and cut after about 60 characters.
QString quotedForMessage(const QString &text);
