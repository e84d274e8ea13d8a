#include "app/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QIcon>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    // The form lives in a static library, whose resources the linker would
    // otherwise leave out.
    Q_INIT_RESOURCE(tavrin);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("invalid.tavrin.Tavrin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up iButton readers over USB or a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Print the program's trace lines on standard error."));
    parser.addOption(verbose);
    const QCommandLineOption provision(QStringLiteral("provision"),
                                       QStringLiteral("Open Provision Readers with the settings file FILE."),
                                       QStringLiteral("FILE"));
    parser.addOption(provision);
    parser.process(app);
    if (parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));

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
    if (parser.isSet(provision))
        window.openProvisionWindow(parser.value(provision));
    return app.exec();
}
