// The yardstick for tavrin's start-up: an empty Qt main window of the same
// size, built with the same compiler and flags. It shows itself and quits
// once its first frame has been painted.
//   barewindow [--text | --form]
// With --text it shows one line of text, and so loads the font database
// as every window with text must. With --form it shows tavrin's form as the
// designer file lays it out and nothing else: what the form costs by itself,
// beside what the program adds to it. (The form's connections name the real
// window's slots; here they are missing, which Qt notes on stderr.)
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include "ui_mainwindow.h"

#include <cstring>

namespace {

class BareWindow : public QMainWindow
{
protected:
    void paintEvent(QPaintEvent *event) override
    {
        QMainWindow::paintEvent(event);
        if (!painted) {
            painted = true;
            // After this frame has reached the screen.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }

private:
    bool painted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BareWindow window;
    window.setWindowTitle(QStringLiteral("barewindow"));
    window.setFixedSize(591, 451);
    Ui::MainWindow form;
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        window.setCentralWidget(new QLabel(QStringLiteral("barewindow")));
    else if (argc > 1 && std::strcmp(argv[1], "--form") == 0)
        form.setupUi(&window);
    window.show();
    return app.exec();
}
