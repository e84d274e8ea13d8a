#include "app/mainwindow.h"

#include <QApplication>
#include <QFont>
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
    // The form's fixed geometry was laid out for a narrow 8-point dialog
    // font; the usual desktop fonts are wider and would cut its labels short.
    QFont font = QApplication::font();
    if (font.pointSizeF() > 8)
        font.setPointSizeF(8);
    font.setStretch(QFont::SemiCondensed);
    QApplication::setFont(font);
#endif
    MainWindow window;
    window.show();
    return app.exec();
}
