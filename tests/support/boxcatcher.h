#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

// What a test learns of one message box the program showed.
struct SeenBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool hasParent = false;
};

// Answers the program's modal message boxes while it lives: every box is
// recorded and then answered with the button the test chose (or closed with
// Escape when the answer is NoButton).
class BoxCatcher : public QObject
{
    Q_OBJECT

public:
    explicit BoxCatcher(QMessageBox::StandardButton answer = QMessageBox::Yes);

    QMessageBox::StandardButton answer;
    QList<SeenBox> boxes;
    // Runs while the box is still open, before it is answered.
    std::function<void(const SeenBox &)> onBox;

    QStringList texts() const;

private:
    void poll();

    QTimer timer;
};
