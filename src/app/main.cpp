// The quillon executable: the application object, the delegate, and the
// files named on the command line handed over as if opened from the desktop.
#include "shell/NXApplicationDelegate.h"
#include "shell/NXDialogs.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setOrganizationName(QStringLiteral("Farrowby"));
    QApplication::setDesktopFileName(QStringLiteral("quillon"));
    // The interface is written in English only.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    NXQtDialogs dialogs;
    const NXSystemActions system = NXSystemActions::desktop();
    NXApplicationDelegate delegate(dialogs, system);
    delegate.applicationDidFinishLaunching(application.arguments().mid(1));
    QApplication::setQuitOnLastWindowClosed(true);
    return application.exec();
}
