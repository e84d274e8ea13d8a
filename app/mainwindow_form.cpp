// The settings form's own reactions: enable boxes and control-code pickers.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "settings/nametables.h"

namespace {

// Inserts the picked name at the cursor, over any selection, even into a
// disabled edit. A combo that is cleared reports -1; that inserts nothing.
void insertControlName(QLineEdit *edit, int index)
{
    if (index < 0 || index >= ControlCodeNames.size())
        return;
    edit->insert(QLatin1Char('[') + ControlCodeNames.at(index) + QLatin1Char(']'));
}

} // namespace

void MainWindow::PreAmbleEnableClick()
{
    ui->PreAmbleEdit->setDisabled(!ui->PreAmbleChk->isChecked());
}

void MainWindow::PostAmbleEnableClick()
{
    ui->PostAmbleEdit->setDisabled(!ui->PostAmbleChk->isChecked());
}

void MainWindow::RemoveDataEnableClick()
{
    ui->RemoveDataEdit->setDisabled(!ui->RemoveDataChk->isChecked());
}

void MainWindow::Pre_selectChanged(int index)
{
    insertControlName(ui->PreAmbleEdit, index);
}

void MainWindow::Post_selectChanged(int index)
{
    insertControlName(ui->PostAmbleEdit, index);
}

void MainWindow::Remove_selectChanged(int index)
{
    insertControlName(ui->RemoveDataEdit, index);
}
