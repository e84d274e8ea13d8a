// The settings form's own reactions: enable boxes and control-code pickers.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "settings/nametables.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QTimer>

namespace {

// Inserts the picked name at the cursor, over any selection, even into a
// disabled edit. A combo that is cleared reports -1; that inserts nothing.
void insertControlName(QLineEdit *edit, int index)
{
    if (index < 0 || index >= ControlCodeNames.size())
        return;
    edit->insert(QLatin1Char('[') + ControlCodeNames.at(index) + QLatin1Char(']'));
}

// Tells a pick from the opened list from the wheel or the arrow keys over
// the closed picker: a combo reports both as activated, and hides its list
// just before it reports a pick. So the list counts as open until the event
// that hid it has been handled. The list's window is watched from when the
// combo makes it, on its first opening: asking for it at start would build
// three lists nobody may open before the window can show.
class PickerWatch : public QObject
{
public:
    explicit PickerWatch(QComboBox *picker)
        : QObject(picker)
    {
        closing.setSingleShot(true);
        closing.setInterval(0);
        connect(&closing, &QTimer::timeout, this, [this] { open = false; });
        picker->installEventFilter(this);
        // Made already, where an assistive technology asked for it.
        if (auto *list = picker->findChild<QAbstractItemView *>())
            list->window()->installEventFilter(this);
    }

    bool listOpen() const { return open; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent()) {
            if (event->type() == QEvent::ChildAdded) {
                QObject *child = static_cast<QChildEvent *>(event)->child();
                if (child->isWidgetType())
                    child->installEventFilter(this);
            }
        } else if (static_cast<QWidget *>(watched)->isWindow()) {
            if (event->type() == QEvent::Show) {
                closing.stop();
                open = true;
            } else if (event->type() == QEvent::Hide) {
                closing.start();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTimer closing;
    bool open = false;
};

} // namespace

void MainWindow::connectPickers()
{
    const auto connectPicker = [this](QComboBox *picker, void (MainWindow::*slot)(int)) {
        const auto *watch = new PickerWatch(picker);
        // activated, not currentIndexChanged: the same name picked twice in
        // a row goes in twice.
        connect(picker, &QComboBox::activated, this, [this, watch, slot](int index) {
            if (watch->listOpen())
                (this->*slot)(index);
        });
    };
    connectPicker(ui->Pre_cmb, &MainWindow::Pre_selectChanged);
    connectPicker(ui->Post_cmb, &MainWindow::Post_selectChanged);
    connectPicker(ui->Remove_cmb, &MainWindow::Remove_selectChanged);
}

void MainWindow::updateLoadSettingsAction()
{
    auto *load = findChild<QAction *>(QStringLiteral("actionLoadSettings"));
    if (!load)
        return;
    const bool connected = readerLink->isOpen();
    load->setEnabled(connected);
    // The tips say why the entry is disabled.
    const QString tip = connected
        ? QStringLiteral("Load settings from a file into the form; Set Status writes them to the reader.")
        : QStringLiteral("Connect a reader first: a settings file is loaded into the form of the reader it is for.");
    load->setStatusTip(tip);
    load->setToolTip(tip);
}

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
