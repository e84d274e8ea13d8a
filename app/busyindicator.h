#pragma once

#include <QProgressDialog>

// A progress bar with no known end over the window while the firmware writer
// runs. It has no way out: stopping a firmware writer half-way would leave
// the reader without firmware.
class BusyIndicator : public QProgressDialog
{
public:
    explicit BusyIndicator(QWidget *parent);

    // Lets the dialog go once the writer has ended.
    void finish();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool finished = false;
};
