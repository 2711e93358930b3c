#include "support/ui/WebDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {
QString S(const char* text)
{
    return QString::fromUtf8(text);
}
} // namespace

TEST(WebHelpers, SavePromptProposesTheCleanedNameAndReturnsTheChoice)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SaveFilePrompt prompt;
    QFileDialog& dialog = prompt.Dialog();
    EXPECT_EQ(&dialog, &prompt.Dialog());

    QString proposed;
    QTimer::singleShot(0, [&] {
        proposed = dialog.selectedFiles().value(0);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    ASSERT_TRUE(prompt.Prompt(dir.path() + S("/my<page>.htm"),
                              S("HTML files (*.htm *.html);;All files (*)"), S("html")));
    EXPECT_EQ(QFileInfo(proposed).fileName(), S("mypage.htm"));
    EXPECT_EQ(QFileInfo(prompt.FileName()).absoluteFilePath(),
              QDir(dir.path()).absoluteFilePath(S("mypage.htm")));

    // An empty path proposes no name, even after an earlier choice.
    QString proposedAgain = S("unset");
    QTimer::singleShot(0, [&] {
        proposedAgain = dialog.findChild<QLineEdit*>(S("fileNameEdit"))->text();
        dialog.reject();
    });
    EXPECT_FALSE(prompt.Prompt(QString(), S("All files (*)"), S("html")));
    EXPECT_EQ(proposedAgain, QString());

    // Cancelled: false. A filter of description and pattern pairs gives
    // one entry per pair, each matching its own pattern.
    QStringList filters;
    QTimer::singleShot(0, [&] {
        filters = dialog.nameFilters();
        dialog.reject();
    });
    EXPECT_FALSE(
        prompt.Prompt(QString(), S("HTML Files (*.html)|*.html|Pages|*.htm;*.html"), S("html")));
    EXPECT_EQ(filters, QStringList({S("HTML Files (*.html)"), S("Pages (*.htm *.html)")}));
    // A cancelled prompt leaves no chosen name behind.
    EXPECT_EQ(prompt.FileName(), QString());
}

TEST(WebHelpers, SavePromptRefusesAReadOnlyFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(S("locked.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner));
    SaveFilePrompt prompt;
    QFileDialog& dialog = prompt.Dialog();
    bool stillOpen = false;
    QTimer::singleShot(0, [&] {
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        QTimer::singleShot(0, [&] {
            // The refusal's message box: close it, then look at the dialog.
            if (QWidget* box = QApplication::activeModalWidget(); box && box != &dialog)
                box->close();
            stillOpen = dialog.isVisible();
            dialog.reject();
        });
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    EXPECT_FALSE(prompt.Prompt(path, S("All files (*)"), QString()));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    EXPECT_TRUE(stillOpen);
}

TEST(WebHelpers, SavePromptKeepsItsSize)
{
    SaveFilePrompt prompt;
    QFileDialog& dialog = prompt.Dialog();
    QSize shown, afterResize;
    bool grip = true;
    bool maximizable = true;
    QTimer::singleShot(0, [&] {
        shown = dialog.size();
        grip = dialog.isSizeGripEnabled();
        maximizable = dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
        // What dragging the window's border asks for.
        dialog.resize(shown + QSize(200, 150));
        afterResize = dialog.size();
        dialog.reject();
    });
    EXPECT_FALSE(prompt.Prompt(QString(), S("All files (*)"), S("html")));
    EXPECT_FALSE(grip);
    EXPECT_FALSE(maximizable);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(afterResize, shown);
    EXPECT_GE(shown.width(), 300);
}
