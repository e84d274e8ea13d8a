#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "settings/keycodes.h"

#include <functional>
#include <optional>

struct ReaderSettings;

// Writing the settings to the reader: the values as the form holds them and
// the one-way frames that carry them. Frames are built one step at a time,
// right before they go out, so that each step's traces appear in their place
// and nothing past a failed frame is traced or built.

enum class WriteTransport { Hid, Serial };

// The settings as the form holds them: check states, texts, the combo index.
// Numbers stay text until their frame is built, as the form would give them.
struct SettingsWriteRequest
{
    // Bits 0..4: RemoveData, PostAmble, PreAmble enables, ID code auto
    // report, buzzer.
    quint8 flags = 0;
    QString outputStart;
    QString outputLength;
    int kbCountry = 0;
    QString preAmble;
    QString postAmble;
    QString removeData;
    // The key codes to send for a text, where they are known exactly (the
    // codes a read showed and the user has not edited since): encoding the
    // shown text again would not always give them back.
    std::optional<QByteArray> preAmbleCodes;
    std::optional<QByteArray> postAmbleCodes;
    std::optional<QByteArray> removeDataCodes;

    static quint8 flagsFromChecks(bool removeData, bool postAmble, bool preAmble, bool autoReport,
                                  bool buzzer);
};

// A data block is written with at most 31 key codes on either transport:
// a frame would carry 60, but no read shows a string of more than 31, and a
// reader holding one could no longer be read, checked or backed up. A serial
// frame is never longer than the 64 bytes behind a report's id.
namespace WriteLimits {
constexpr int BlockCodes = 31;
constexpr int SerialFrameBytes = 64;
} // namespace WriteLimits

// The labels the window shows beside each written field; messages about a
// field name it by them.
namespace WriteFieldLabels {
inline const QString OutputStart = QStringLiteral("Output start");
inline const QString OutputLength = QStringLiteral("Output length");
inline const QString PreAmble = QStringLiteral("PreAmble Enable");
inline const QString PostAmble = QStringLiteral("PostAmble Enable");
inline const QString RemoveData = QStringLiteral("Remove Data Enable");
} // namespace WriteFieldLabels

// A text that does not fit its frame; length and limit count key codes.
struct OverlongText
{
    QString field; // the label beside its edit: "PreAmble Enable", ...
    int length = 0;
    int limit = 0;
};

class SettingsWriteSequence
{
public:
    SettingsWriteSequence(const SettingsWriteRequest &request, WriteTransport transport);

    WriteTransport transport() const { return m_transport; }
    // Seven frames over USB, six over the serial port (no keyboard country).
    int count() const;
    quint8 command(int step) const;

    // Texts too long for their frame; the sequence must not be sent unless
    // this is empty. Checks all three texts without tracing anything.
    QList<OverlongText> overlongTexts() const;
    // What to tell the user when overlongTexts() is not empty.
    QString refusalText() const;

    // The bare frame of step (0-based); the link puts it in a report over
    // USB. Emits the step's traces. Must not be called when overlongTexts()
    // is not empty.
    QByteArray frame(int step) const;

    // What the reader holds once every frame is taken: flags, outputs, the
    // keyboard country over USB, the three blocks' key codes.
    ReaderSettings expected() const;

    // Builds and hands each frame to send in order, stopping at the first
    // false. Returns the number of frames send accepted: count() when all
    // went out, 0 without calling send when a text is too long.
    int run(const std::function<bool(const QByteArray &frame)> &send) const;

private:
    QByteArray dataBlock(quint8 code, bool tracePreAmble) const;
    const QString &blockText(quint8 code) const;
    // The block's key codes: the exact ones where known, else the text's.
    QByteArray blockCodes(quint8 code, KeyCodeTrace trace) const;

    SettingsWriteRequest m_request;
    WriteTransport m_transport;
};
