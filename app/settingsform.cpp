#include "settingsform.h"

#include "settings/readersettings.h"

#include "ui_mainwindow.h"

namespace SettingsForm {

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

void apply(Ui::MainWindow &ui, const ReaderSettings &s)
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
    }

    if (s.preAmble)
        ui.PreAmbleEdit->setText(keyCodesText(*s.preAmble, s.source));
    if (s.postAmble)
        ui.PostAmbleEdit->setText(keyCodesText(*s.postAmble, s.source));
    if (s.removeData)
        ui.RemoveDataEdit->setText(keyCodesText(*s.removeData, s.source));
}

} // namespace SettingsForm
