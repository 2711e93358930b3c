// The desktop program's batch end to end, headless, with its real windows:
// the options dialog, the save prompt and the error box answered in advance.
#include "Program.h"

#include "LocalHttpServer.h"
#include "QtPrinters.h"

#include "protection/ui/UnitEncryptionOptions.h"
#include "shell/ui/UnitKestrix.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/UnitDownload.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

const QByteArray page = "<html><head><title>T</title></head><body><p>Hello</p></body></html>";

class Program : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QStringList errors; // texts of the error boxes shown

    void SetUp() override
    {
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qputenv(variable, dir.filePath(S(variable)).toLocal8Bit());
        ClearQueuedModalAnswers();
    }
    void TearDown() override { ClearQueuedModalAnswers(); }

    QString Path(const char* name) const { return dir.filePath(S(name)); }
    void Write(const char* name, const QByteArray& data) const
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // The options dialog closed with OK or Cancel.
    static void Options(int result)
    {
        QueueModalAnswer({ModalAnswer::Kind::Button, result, false, [](QDialog& dialog) {
                              // The batch's only window carries its own menu bar.
                              auto& form = static_cast<TFormEncryptionOptions&>(dialog);
                              EXPECT_TRUE(form.StandaloneMode());
                          }});
    }
    // The error box: its text kept, then OK.
    void ErrorBox()
    {
        QueueModalAnswer({ModalAnswer::Kind::Button, QMessageBox::Ok, false, [this](QDialog& box) {
                              errors << static_cast<QMessageBox&>(box).text();
                              EXPECT_EQ(box.parentWidget(), nullptr);
                          }});
    }
    // A dialog that closes itself (the download): wait until it has.
    static void SelfClosing()
    {
        QueueModalAnswer({ModalAnswer::Kind::Button, 0, false, [](QDialog& dialog) {
                              EXPECT_TRUE(
                                  QTest::qWaitFor([&] { return !dialog.isVisible(); }, 20000));
                          }});
    }
    int Run(QStringList arguments)
    {
        arguments.prepend(S("kestrix"));
        return RunProgram(arguments);
    }
};

TEST_F(Program, InPlaceRunKeepsTheOriginal)
{
    // Every window is translated once at start, those made before the
    // batch included (this is the process's first start).
    TranslationTable& table = ApplicationTranslationTable();
    table.Insert("TFormEncryptionOptions", "Encryption", "Verschluesselung");
    table.Insert("TFormDownload", "Downloading File", "Lade Datei");
    Write("a.html", page);
    QString downloadTitle;
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false, [&](QDialog& dialog) {
                          auto& form = static_cast<TFormEncryptionOptions&>(dialog);
                          EXPECT_EQ(form.PageControl->tabText(0), S("Verschluesselung"));
                          for (QWidget* window : QApplication::topLevelWidgets())
                              if (auto* download = qobject_cast<TFormDownload*>(window))
                                  downloadTitle = download->windowTitle();
                      }});
    EXPECT_EQ(Run({S("-e"), S("-i"), Path("a.html"), Path("a.html")}), 0);
    EXPECT_EQ(Read(Path("a.html.kestrix")), page);
    EXPECT_TRUE(Read(Path("a.html")).contains("kestrix-content"));
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
    EXPECT_EQ(downloadTitle, S("Lade Datei"));
    // The windows were the run's own: none outlives it.
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TFormDownload*>(window), nullptr);
    table.Clear();
    // The options were stored for the next run.
    EXPECT_TRUE(QFile::exists(dir.filePath(S("XDG_CONFIG_HOME/Marquell/Marquell Kestrix.conf"))));
}

TEST_F(Program, ExitStatusesOfFailuresAndCancellations)
{
    Write("a.html", page);
    // A missing input: the error box without owner, exit 1.
    ErrorBox();
    EXPECT_EQ(Run({S("-e"), Path("missing.html")}), 1);
    EXPECT_EQ(errors.value(0), S("File %1 does not exist").arg(Path("missing.html")));

    // The options dialog cancelled: nothing written, exit 3.
    Options(QDialog::Rejected);
    EXPECT_EQ(Run({S("-e"), S("-i"), Path("a.html"), Path("a.html")}), 3);
    EXPECT_EQ(Read(Path("a.html")), page);
    EXPECT_FALSE(QFile::exists(Path("a.html.kestrix")));

    // The save prompt cancelled: exit 3.
    Options(QDialog::Accepted);
    QueueModalAnswer({ModalAnswer::Kind::Escape, 0, false, {}});
    EXPECT_EQ(Run({S("-o"), Path("a.html")}), 3);

    // A failed download names the address.
    LocalHttpServer server;
    ASSERT_TRUE(server.Listening());
    SelfClosing();
    ErrorBox();
    const QString address = server.Url("/missing");
    EXPECT_EQ(Run({S("-e"), address}), 1);
    EXPECT_EQ(errors.value(1),
              S("Unable to download %1\n\nThe Web Page may not exist.").arg(address));
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
}

TEST_F(Program, DownloadedPageSavedWhereTheUserSays)
{
    LocalHttpServer server;
    ASSERT_TRUE(server.Listening());
    SelfClosing();
    Options(QDialog::Accepted);
    // The save prompt: a name typed into the shared dialog, then accepted.
    QueueModalAnswer({ModalAnswer::Kind::Button, 0, false, [&](QDialog& dialog) {
                          auto& files = static_cast<QFileDialog&>(dialog);
                          files.selectFile(Path("saved.html"));
                          QMetaObject::invokeMethod(&files, "accept");
                      }});
    EXPECT_EQ(Run({S("-e"), S("-i"), server.Url("/page.html"), Path("ignored.html")}), 0);
    EXPECT_TRUE(Read(Path("saved.html")).contains("kestrix-content"));
    EXPECT_FALSE(QFile::exists(Path("ignored.html")));
}

TEST_F(Program, WindowModeRunsUntilTheMainWindowCloses)
{
    // Once the deferred start-up step has run, close the main window as the
    // user would; the program then ends and takes every window with it.
    QString shownPath = S("unset");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<TFormKestrix*>(window);
                form && form->isVisible() && form->Started()) {
                poll.stop();
                shownPath = form->StartPath();
                form->close();
            }
    });
    poll.start(10);
    EXPECT_EQ(Run({dir.path()}), 0);
    EXPECT_EQ(shownPath, QString()) << "the start location is used once";
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    // The options were saved on closing, the window's own state when it was
    // destroyed.
    QSettings stored(dir.filePath(S("XDG_CONFIG_HOME/Marquell/Marquell Kestrix.conf")),
                     QSettings::IniFormat);
    EXPECT_TRUE(stored.contains(S("FormKestrixOptions/EditFileFilter.Text")));
    EXPECT_TRUE(stored.contains(S("FormKestrix/Width")));
}

TEST_F(Program, ThirdNameIsAUsageError)
{
    ErrorBox();
    EXPECT_EQ(Run({S("-e"), S("a"), S("b"), S("c"), S("d")}), 2);
    EXPECT_EQ(errors.value(0), S("Too many files specified (c)"));
}

} // namespace
