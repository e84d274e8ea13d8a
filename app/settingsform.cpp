#include "settingsform.h"

#include "settings/readersettings.h"
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
    if (s.firmwareVersion)
        ui.FWLbl->setText(versionLabelText(*s.firmwareVersion, s.source));

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
}
