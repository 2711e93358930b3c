// The file commands with the desktop's windows: the options dialog loaded
// from and saved to the store, the standard message dialog, and a run that
// meets a file it cannot read.
#include "processing/ui/FileDialogs.h"
#include "../TreeHelpers.h"
#include "processing/Backup.h"
#include "processing/ui/UnitFileList.h"
#include "processing/ui/UnitFileProgress.h"
#include "protection/ui/UnitEncryptionOptions.h"
#include "shell/ProtectionSettingsStore.h"
#include "shell/ui/AskWithMemory.h"
#include "support/SettingsStore.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/UnitDownload.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrix;

namespace {

const QString section = QStringLiteral("FormEncryptionOptions");
const QByteArray page = "<html><head></head><body><p>Hello</p></body></html>";

class FileDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearQueuedModalAnswers();
        SetRememberedAnswerStoreForTesting(&answers);
        store.WriteInteger(section, QStringLiteral("ComboBoxDepthLevel.ItemIndex"), 3);
    }
    void TearDown() override
    {
        ClearQueuedModalAnswers();
        SetRememberedAnswerStoreForTesting(nullptr);
    }
    QString Make(const QString& name, const QByteArray& bytes = page)
    {
        return WriteTreeFile(dir.filePath(name), bytes);
    }

    QTemporaryDir dir;
    SettingsStore store = SettingsStore::InMemory();
    SettingsStore answers = SettingsStore::InMemory();
    TFormEncryptionOptions protectionOptions;
    TFormDownload download;
    WindowFileDialogs dialogs{store, protectionOptions, download};
    TFormFileProgress progress;
    FileCommands commands{progress, dialogs};
};

TEST_F(FileDialogsTest, CancelInTheOptionsDialogStoresNothingAndWritesNothing)
{
    const QString file = Make(QStringLiteral("index.html"));
    QString shownLevel;
    bool menuShown = true;
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog&) {
                          TFormEncryptionOptions& form = protectionOptions;
                          shownLevel = form.ComboBoxDepthLevel->currentText();
                          menuShown = form.StandaloneMode();
                          form.ComboBoxDepthLevel->setCurrentIndex(0);
                      }});
    commands.SecureFiles({file}, allProtectionParts);
    EXPECT_EQ(shownLevel, QStringLiteral("High")) << "loaded from the store";
    EXPECT_FALSE(menuShown);
    EXPECT_EQ(store.ReadInteger(section, QStringLiteral("ComboBoxDepthLevel.ItemIndex"), -1), 3);
    EXPECT_EQ(ReadTreeFile(file), page);
    EXPECT_FALSE(BackupExists(file));
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
}

TEST_F(FileDialogsTest, OkStoresTheValuesAndSecuresWithThem)
{
    const QString file = Make(QStringLiteral("index.html"));
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [&](QDialog&) { protectionOptions.ComboBoxDepthLevel->setCurrentIndex(1); }});
    commands.SecureFiles({file}, partEncrypt);
    EXPECT_EQ(store.ReadInteger(section, QStringLiteral("ComboBoxDepthLevel.ItemIndex"), -1), 1);
    ProtectionEngine expected;
    LoadProtectionSettings(store, expected.settings);
    expected.SetProtectionParts(partEncrypt);
    std::string text = page.toStdString();
    ASSERT_TRUE(expected.SecurePage(text));
    EXPECT_EQ(ReadTreeFile(file).toStdString(), text);
    EXPECT_EQ(ReadTreeFile(BackupPathFor(file)), page);
}

TEST_F(FileDialogsTest, TheStandardMessageDialogOffersYesToAll)
{
    QStringList buttons;
    QString title;
    QueueModalAnswer({ModalAnswer::Kind::Button, resultYesToAll, false, [&](QDialog& d) {
                          title = d.windowTitle();
                          for (QPushButton* b : d.findChildren<QPushButton*>())
                              buttons << b->text();
                      }});
    EXPECT_EQ(dialogs.MessageDialog(DialogType::Error, QStringLiteral("Problem"),
                                    buttonYes | buttonNo | buttonYesToAll),
              resultYesToAll);
    EXPECT_EQ(title, QStringLiteral("Error"));
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("&Yes"), QStringLiteral("&No"),
                                    QStringLiteral("Yes to &All")}));
    QueueModalAnswer(ModalAnswer::Escape());
    EXPECT_EQ(dialogs.MessageDialog(DialogType::Confirmation, QStringLiteral("Stop?"),
                                    buttonYes | buttonNo),
              resultNo);
}

TEST_F(FileDialogsTest, ASocketIsListedAndNoToTheContinueQuestionEndsTheRun)
{
    const QString first = Make(QStringLiteral("a.html"));
    const QString socketPath = dir.filePath(QStringLiteral("b.html"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QString last = Make(QStringLiteral("c.html"));

    // A socket is never read: it is listed and the continue question asked
    // over the progress dialog; No ends the run.
    QString question;
    bool progressShown = false;
    QueueModalAnswer(ModalAnswer::Press(QDialog::Accepted));
    QueueModalAnswer({ModalAnswer::Kind::Button, resultNo, false, [&](QDialog& box) {
                          for (QLabel* label : box.findChildren<QLabel*>())
                              question += label->text();
                          progressShown = progress.isVisible();
                      }});
    // The problems box after the run.
    QueueModalAnswer(ModalAnswer::Press(QDialog::Accepted));
    commands.SecureFiles({first, socketPath, last}, allProtectionParts);
    ::close(fd);
    EXPECT_TRUE(question.contains(
        socketPath + QStringLiteral(": This is not a plain file (a link or a device) and was "
                                    "passed over.")))
        << question.toStdString();
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(BackupExists(first));
    EXPECT_EQ(ReadTreeFile(last), page);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
}

TEST_F(FileDialogsTest, GatheringAsksTheFolderQuestionOnceAndScansInTheWindow)
{
    const QString file = Make(QStringLiteral("one.html"));
    Make(QStringLiteral("A/a.html"));
    Make(QStringLiteral("B/b.html"));
    Make(QStringLiteral("A/Kestrix Backup/a.html"));
    TFormFileList fileList;
    WindowGathering gathering(fileList);
    int asked = 0;
    QueueModalAnswer({ModalAnswer::Kind::Button, resultYes, false, [&](QDialog&) { ++asked; }});
    QStringList list;
    GatherSelection(list,
                    {dir.filePath(QStringLiteral("A")), file, dir.filePath(QStringLiteral("B"))},
                    true, QStringLiteral("*.html"), gathering);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(list, (QStringList{dir.filePath(QStringLiteral("A/a.html")), file,
                                 dir.filePath(QStringLiteral("B/b.html"))}));
}

} // namespace
