#include "app/appstyle.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QIcon>
#include <QLoggingCategory>
#include <QStyle>

#include <cstring>

namespace {

const QCommandLineOption provision(QStringLiteral("provision"),
                                   QStringLiteral("Open Provision Readers with the settings file FILE."),
                                   QStringLiteral("FILE"));

void describe(QCommandLineParser &parser, const QCommandLineOption &verbose)
{
    parser.setApplicationDescription(QStringLiteral("Sets up iButton readers over USB or a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(verbose);
    parser.addOption(provision);
}

// --help and --version answer without a window, so also where there is no
// display to open one on.
bool asksForTextOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--") == 0)
            return false;
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(a, option) == 0)
                return true;
    }
    return false;
}

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Print the program's trace lines and every frame sent and reply received on standard error."));
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        setIdentity();
        QCommandLineParser parser;
        describe(parser, verbose);
        parser.process(app); // prints and exits
        return 0;
    }

    // The form lives in a static library, whose resources the linker would
    // otherwise leave out.
    Q_INIT_RESOURCE(tavrin);
    QApplication app(argc, argv);
    // Keeps the style the desktop or -style chose; the application owns it.
    auto *style = new AppStyle(QApplication::style()->name());
    style->setParent(&app);
    QApplication::setStyle(style);
    setIdentity();
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("invalid.tavrin.Tavrin"));

    QCommandLineParser parser;
    describe(parser, verbose);
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
