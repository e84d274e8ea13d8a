#pragma once

struct ReaderSettings;

namespace Ui {
class MainWindow;
}

namespace SettingsForm {

// Shows settings in the form in the order a full read delivers them: version
// label, flag boxes with the edits they govern, outputs, keyboard country
// (which also enables KB_cmb), the three key-code texts. Absent fields leave
// their widgets as they were.
void apply(Ui::MainWindow &ui, const ReaderSettings &settings);

} // namespace SettingsForm
