#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include <optional>

#include "settings/readersettings.h"

struct SettingsPatch;
struct SettingsWriteRequest;

namespace Ui {
class MainWindow;
}

// The settings form as the record of the reader's settings: what a read
// shows in it, and the write that it asks for.
class SettingsForm
{
public:
    explicit SettingsForm(Ui::MainWindow &ui);

    // Shows settings in the order a full read delivers them: version label,
    // flag boxes with the edits they govern, outputs, keyboard country
    // (which also enables KB_cmb), the three key-code texts. Absent fields
    // leave their widgets as they were. What the edits and KB_cmb now show
    // is remembered with the values behind it.
    void apply(const ReaderSettings &settings);

    // The write the form asks for. An edit whose text is still the one a
    // read (or a confirmed write) left in it sends exactly the key codes
    // behind that text, and KB_cmb the byte behind its entry: a text such as
    // "[NULL]" or a code-page character would not always encode back to the
    // codes it came from.
    SettingsWriteRequest writeRequest() const;

    // After a write the reader confirmed: the form's texts now stand for
    // the codes that were sent.
    void remember(const SettingsWriteRequest &sent, const ReaderSettings &held);

    // The settings the form holds, as a read would have delivered them: what
    // a settings file keeps. The keyboard country only while KB_cmb takes it.
    ReaderSettings current() const;
    // Puts what a settings file holds into the form, its texts as a read
    // shows them; the reader hears of it only through "Set Status".
    void load(const SettingsPatch &patch);
    // How the last read showed its values (the serial read has no symbols).
    SettingsSource source() const { return m_source; }

    // Whether the form holds the connected reader's settings: a complete
    // read from it, a file loaded while connected to it, or the user's word.
    // Any connect or failed read makes it no reader's until one of those.
    bool isThisReaders() const { return m_thisReaders; }
    void setThisReaders(bool on) { m_thisReaders = on; }
    // Whether, since the program started, a complete read or a file (or the
    // history) filled the form: only then does it hold settings anybody chose.
    bool chosen() const { return m_chosen; }
    void setChosen() { m_chosen = true; }

    // Whether the form differs from what was last read from or written to
    // the reader (or from the form at start, before either).
    bool unwritten() const { return values() != m_readerState; }
    // Takes what the form shows now as the reader's; apply() and remember()
    // do so themselves and then call onReaderState.
    void takeAsReaderState();
    std::function<void()> onReaderState;

private:
    QStringList values() const;

    struct Shown
    {
        QString text;
        QByteArray codes;
    };

    Ui::MainWindow &ui;
    SettingsSource m_source = SettingsSource::Hid;
    bool m_thisReaders = false;
    bool m_chosen = false;
    std::optional<QByteArray> m_firmware;
    std::optional<Shown> preAmble, postAmble, removeData;
    // The index KB_cmb showed for the byte a read delivered.
    std::optional<std::pair<int, quint8>> kbCountry;
    QStringList m_readerState;
};
