#include "settingsjson.h"

#include "settings/nametables.h"
#include "settings/textcodec.h"
#include "settings/keycodes.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace {

struct FlagField
{
    const char *name;
    quint8 bit;
    std::optional<bool> SettingsPatch::*member;
};

const FlagField flagFields[] = {
    {"preambleEnabled", SettingsFlag::PreAmbleEnable, &SettingsPatch::preambleEnabled},
    {"postambleEnabled", SettingsFlag::PostAmbleEnable, &SettingsPatch::postambleEnabled},
    {"removeDataEnabled", SettingsFlag::RemoveDataEnable, &SettingsPatch::removeDataEnabled},
    {"autoReport", SettingsFlag::IdCodeAutoReport, &SettingsPatch::autoReport},
    {"buzzer", SettingsFlag::BuzzerEnable, &SettingsPatch::buzzer},
};

struct TextField
{
    const char *name;
    std::optional<QByteArray> ReaderSettings::*codes;
    std::optional<QString> SettingsPatch::*member;
};

const TextField textFields[] = {
    {"preamble", &ReaderSettings::preAmble, &SettingsPatch::preamble},
    {"postamble", &ReaderSettings::postAmble, &SettingsPatch::postamble},
    {"removeData", &ReaderSettings::removeData, &SettingsPatch::removeData},
};

struct ByteField
{
    const char *name;
    std::optional<quint8> ReaderSettings::*value;
    std::optional<int> SettingsPatch::*member;
};

const ByteField byteFields[] = {
    {"outputStart", &ReaderSettings::outputStart, &SettingsPatch::outputStart},
    {"outputLength", &ReaderSettings::outputLength, &SettingsPatch::outputLength},
};

bool serialSource(const ReaderSettings &settings)
{
    return settings.source == SettingsSource::Serial;
}

QString textOf(const ReaderSettings &settings, const std::optional<QByteArray> &codes)
{
    return roundTripKeyCodesText(codes.value_or(QByteArray()), serialSource(settings));
}

} // namespace

QJsonObject settingsToJson(const ReaderSettings &settings)
{
    QJsonObject json;
    if (settings.firmwareVersion)
        json.insert(QStringLiteral("firmware"), TextCodec::cStringToText(*settings.firmwareVersion));
    for (const TextField &f : textFields) {
        if ((settings.*f.codes))
            json.insert(QLatin1String(f.name), textOf(settings, settings.*f.codes));
    }
    if (settings.flags) {
        for (const FlagField &f : flagFields)
            json.insert(QLatin1String(f.name), flagSet(*settings.flags, f.bit));
    }
    for (const ByteField &f : byteFields) {
        if ((settings.*f.value))
            json.insert(QLatin1String(f.name), int(*(settings.*f.value)));
    }
    if (settings.kbCountry) {
        const int index = *settings.kbCountry;
        json.insert(QStringLiteral("keyboardCountry"),
                    index < KbCountryNames.size() ? QJsonValue(KbCountryNames.at(index)) : QJsonValue());
    }
    return json;
}

std::optional<SettingsPatch> parseSettingsPatch(const QByteArray &json, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::optional<SettingsPatch>();
    };

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not valid JSON at offset %1: %2")
                        .arg(parseError.offset)
                        .arg(parseError.errorString()));
    if (!document.isObject())
        return fail(QStringLiteral("the settings must be one JSON object"));

    SettingsPatch patch;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        bool known = false;

        if (key == QLatin1String("firmware"))
            continue; // read only: a backup carries it, a write ignores it

        for (const FlagField &f : flagFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            if (!value.isBool())
                return fail(QStringLiteral("\"%1\" must be true or false").arg(key));
            patch.*f.member = value.toBool();
        }
        for (const TextField &f : textFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            if (!value.isString())
                return fail(QStringLiteral("\"%1\" must be a text").arg(key));
            patch.*f.member = value.toString();
        }
        for (const ByteField &f : byteFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            const double number = value.toDouble(-1);
            if (!value.isDouble() || number != std::floor(number))
                return fail(QStringLiteral("\"%1\" must be a whole number from 0 to 255").arg(key));
            if (number < 0 || number > 255)
                return fail(QStringLiteral("\"%1\" is %2, outside 0 to 255").arg(key).arg(number));
            patch.*f.member = int(number);
        }
        if (key == QLatin1String("keyboardCountry")) {
            known = true;
            if (value.isNull())
                continue; // a read of an unknown country: keep it
            const int index = int(KbCountryNames.indexOf(value.toString()));
            if (!value.isString() || index < 0)
                return fail(QStringLiteral("\"keyboardCountry\" must be one of %1")
                                .arg(KbCountryNames.join(QStringLiteral(", "))));
            patch.keyboardCountry = index;
        }
        if (!known)
            return fail(QStringLiteral("unknown field \"%1\"").arg(key));
    }
    return patch;
}

SettingsWriteRequest mergedWriteRequest(const ReaderSettings &current, const SettingsPatch &patch)
{
    SettingsWriteRequest request;
    quint8 flags = current.flags.value_or(0);
    for (const FlagField &f : flagFields) {
        if ((patch.*f.member))
            flags = *(patch.*f.member) ? quint8(flags | f.bit) : quint8(flags & ~f.bit);
    }
    request.flags = flags & 0x1F;

    const auto number = [](const std::optional<int> &wanted, const std::optional<quint8> &now) {
        return QString::number(wanted ? *wanted : int(now.value_or(0)));
    };
    request.outputStart = number(patch.outputStart, current.outputStart);
    request.outputLength = number(patch.outputLength, current.outputLength);
    request.kbCountry = patch.keyboardCountry ? *patch.keyboardCountry : int(current.kbCountry.value_or(0));

    const auto text = [&](const std::optional<QString> &wanted, const std::optional<QByteArray> &now) {
        return wanted ? *wanted : textOf(current, now);
    };
    request.preAmble = text(patch.preamble, current.preAmble);
    request.postAmble = text(patch.postamble, current.postAmble);
    request.removeData = text(patch.removeData, current.removeData);
    return request;
}
