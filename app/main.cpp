// kestrix: the desktop program. Reads its command line, creates its windows
// once, translates them, then either opens the main window or runs the
// batch that secures one page and ends.
#include "Program.h"

#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kestrix::settingsOrganisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(kestrix::settingsApplication));
    kestrix::LoadApplicationLanguageFile();
    return kestrix::RunProgram(QCoreApplication::arguments());
}
