#include "settingsform.h"

#include "settings/keycodes.h"
#include "settings/readersettings.h"
#include "settings/settingsfile.h"
#include "settings/settingswrite.h"

#include "ui_mainwindow.h"

namespace {

// A box shows its bit; the edit it governs takes input only while it is set.
void showFlag(quint8 flags, quint8 bit, QCheckBox *box, QWidget *edit = nullptr)
{
    const bool set = flagSet(flags, bit);
    box->setChecked(set);
    if (edit)
        edit->setDisabled(!set);
}

} // namespace

SettingsForm::SettingsForm(Ui::MainWindow &ui)
    : ui(ui)
{
}

void SettingsForm::apply(const ReaderSettings &s)
{
    if (!s.isEmpty())
        m_source = s.source;
    if (s.firmwareVersion) {
        ui.FWLbl->setText(versionLabelText(*s.firmwareVersion, s.source));
        m_firmware = s.firmwareVersion;
    }

    if (s.flags) {
        showFlag(*s.flags, SettingsFlag::RemoveDataEnable, ui.RemoveDataChk, ui.RemoveDataEdit);
        showFlag(*s.flags, SettingsFlag::PostAmbleEnable, ui.PostAmbleChk, ui.PostAmbleEdit);
        showFlag(*s.flags, SettingsFlag::PreAmbleEnable, ui.PreAmbleChk, ui.PreAmbleEdit);
        showFlag(*s.flags, SettingsFlag::IdCodeAutoReport, ui.AutoReportChk);
        showFlag(*s.flags, SettingsFlag::BuzzerEnable, ui.BuzzerEnableChk);
    }

    if (s.outputStart)
        ui.IBTOutStartEdit->setText(outputText(*s.outputStart, s.source));
    if (s.outputLength)
        ui.IBTOutLengthEdit->setText(outputText(*s.outputLength, s.source));

    if (s.kbCountry) {
        ui.KB_cmb->setDisabled(false);
        ui.KB_cmb->setCurrentIndex(kbCountryIndex(*s.kbCountry));
        kbCountry = std::pair{ui.KB_cmb->currentIndex(), *s.kbCountry};
    }

    const auto show = [&s](const std::optional<QByteArray> &codes, QLineEdit *edit, std::optional<Shown> &shown) {
        if (!codes)
            return;
        edit->setText(keyCodesText(*codes, s.source));
        shown = Shown{edit->text(), *codes};
    };
    show(s.preAmble, ui.PreAmbleEdit, preAmble);
    show(s.postAmble, ui.PostAmbleEdit, postAmble);
    show(s.removeData, ui.RemoveDataEdit, removeData);
    takeAsReaderState();
}

SettingsWriteRequest SettingsForm::writeRequest() const
{
    SettingsWriteRequest request;
    request.flags = SettingsWriteRequest::flagsFromChecks(
        ui.RemoveDataChk->isChecked(), ui.PostAmbleChk->isChecked(), ui.PreAmbleChk->isChecked(),
        ui.AutoReportChk->isChecked(), ui.BuzzerEnableChk->isChecked());
    request.outputStart = ui.IBTOutStartEdit->text();
    request.outputLength = ui.IBTOutLengthEdit->text();
    request.kbCountry = ui.KB_cmb->currentIndex();
    if (kbCountry && kbCountry->first == request.kbCountry)
        request.kbCountry = kbCountry->second;
    request.preAmble = ui.PreAmbleEdit->text();
    request.postAmble = ui.PostAmbleEdit->text();
    request.removeData = ui.RemoveDataEdit->text();

    const auto unchanged = [](const std::optional<Shown> &shown, const QString &text) {
        return shown && shown->text == text ? std::optional<QByteArray>(shown->codes) : std::nullopt;
    };
    request.preAmbleCodes = unchanged(preAmble, request.preAmble);
    request.postAmbleCodes = unchanged(postAmble, request.postAmble);
    request.removeDataCodes = unchanged(removeData, request.removeData);
    return request;
}

void SettingsForm::remember(const SettingsWriteRequest &sent, const ReaderSettings &held)
{
    const auto keep = [](const QString &text, const std::optional<QByteArray> &codes, std::optional<Shown> &shown) {
        if (codes)
            shown = Shown{text, *codes};
    };
    keep(sent.preAmble, held.preAmble, preAmble);
    keep(sent.postAmble, held.postAmble, postAmble);
    keep(sent.removeData, held.removeData, removeData);
    if (held.kbCountry)
        kbCountry = std::pair{ui.KB_cmb->currentIndex(), *held.kbCountry};
    takeAsReaderState();
}

void SettingsForm::takeAsReaderState()
{
    m_readerState = values();
    if (onReaderState)
        onReaderState();
}

QStringList SettingsForm::values() const
{
    QStringList v;
    for (const QLineEdit *edit : {ui.PreAmbleEdit, ui.PostAmbleEdit, ui.RemoveDataEdit, ui.IBTOutStartEdit,
                                  ui.IBTOutLengthEdit})
        v << edit->text();
    for (const QCheckBox *box :
         {ui.PreAmbleChk, ui.PostAmbleChk, ui.RemoveDataChk, ui.AutoReportChk, ui.BuzzerEnableChk})
        v << QString::number(box->isChecked());
    v << QString::number(ui.KB_cmb->currentIndex());
    return v;
}

ReaderSettings SettingsForm::current() const
{
    // What a write of the form would leave in a reader.
    ReaderSettings s = SettingsWriteSequence(writeRequest(), WriteTransport::Hid).expected();
    s.source = m_source;
    s.firmwareVersion = m_firmware;
    if (!ui.KB_cmb->isEnabled())
        s.kbCountry.reset();
    return s;
}

void SettingsForm::load(const SettingsPatch &patch)
{
    m_chosen = true;
    // An edit follows its box as a read makes it, but only while connected:
    // without a reader the form takes no input at all.
    const bool connected = ui.tabWidget->isEnabled();
    const auto flag = [connected](const std::optional<bool> &on, QCheckBox *box, QWidget *edit) {
        if (!on)
            return;
        box->setChecked(*on);
        if (edit && connected)
            edit->setDisabled(!*on);
    };
    flag(patch.removeDataEnabled, ui.RemoveDataChk, ui.RemoveDataEdit);
    flag(patch.postambleEnabled, ui.PostAmbleChk, ui.PostAmbleEdit);
    flag(patch.preambleEnabled, ui.PreAmbleChk, ui.PreAmbleEdit);
    flag(patch.autoReport, ui.AutoReportChk, nullptr);
    flag(patch.buzzer, ui.BuzzerEnableChk, nullptr);
    if (patch.outputStart)
        ui.IBTOutStartEdit->setText(outputText(quint8(*patch.outputStart), m_source));
    if (patch.outputLength)
        ui.IBTOutLengthEdit->setText(outputText(quint8(*patch.outputLength), m_source));
    // A country byte without a name has no place in the form: it keeps its own.
    if (patch.keyboardCountry && *patch.keyboardCountry < ui.KB_cmb->count())
        ui.KB_cmb->setCurrentIndex(*patch.keyboardCountry);
    // A file's texts may use stand-ins for codes the form shows otherwise;
    // they are shown as a read would show their codes, and those codes are
    // what an unedited text sends.
    const auto text = [this](const std::optional<QString> &given, QLineEdit *edit, std::optional<Shown> &shown) {
        if (!given)
            return;
        const QByteArray codes = encodeKeyCodes(*given);
        edit->setText(keyCodesText(codes, m_source));
        shown = Shown{edit->text(), codes};
    };
    text(patch.preamble, ui.PreAmbleEdit, preAmble);
    text(patch.postamble, ui.PostAmbleEdit, postAmble);
    text(patch.removeData, ui.RemoveDataEdit, removeData);
}
