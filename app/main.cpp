#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // The form lives in a static library, whose resources the linker would
    // otherwise leave out.
    Q_INIT_RESOURCE(tavrin);
    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // Windows takes the icon from the executable's resources.
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/tavrin.png")));
#endif
    MainWindow window;
    window.show();
    return app.exec();
}
