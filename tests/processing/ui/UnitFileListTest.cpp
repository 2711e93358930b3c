// The scanning dialog: the search in the window, its labels, Cancel, a
// missing folder and an invalid mask.
#include "processing/ui/UnitFileList.h"
#include "../TreeHelpers.h"
#include "platform/Errors.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

class FileListTest : public ::testing::Test
{
protected:
    QString Make(const QString& relative)
    {
        return WriteTreeFile(dir.filePath(relative), "<html><body></body></html>");
    }
    QTemporaryDir dir;
    TFormFileList dialog;
};

TEST_F(FileListTest, SearchesInTheWindowAsTheScanDoes)
{
    for (const char* name : {"a.html", "sub/b.html", "sub/deep/c.htm", "d.txt", ".e.html"})
        Make(QString::fromLatin1(name));
    const QString filter = QStringLiteral("*.htm;*.html");
    QStringList inWindow{QStringLiteral("earlier")};
    EXPECT_TRUE(dialog.ScanForFiles(dir.path(), filter, inWindow));
    QStringList plain{QStringLiteral("earlier")};
    ASSERT_TRUE(ScanForFiles(dir.path(), filter, plain));
    EXPECT_EQ(inWindow, plain);
    EXPECT_EQ(inWindow.size(), 5);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.LabelCount->text(), QStringLiteral("5 files found."));
    EXPECT_EQ(dialog.LabelFilePath->text(), dir.path() + QLatin1Char('/'));
    EXPECT_FALSE(dialog.Animate->Active());
}

TEST_F(FileListTest, CancelEndsTheSearchKeepingTheListAndAMissingFolderShowsNothing)
{
    Make(QStringLiteral("a.html"));
    QStringList list{QStringLiteral("earlier")};
    QTimer::singleShot(0, dialog.ButtonCancel, &QPushButton::click);
    EXPECT_FALSE(dialog.ScanForFiles(dir.path(), QStringLiteral("*"), list));
    EXPECT_EQ(list.front(), QStringLiteral("earlier"));

    // The dialog is used again afresh.
    EXPECT_TRUE(dialog.ScanForFiles(dir.path(), QStringLiteral("*"), list));
    EXPECT_EQ(list.back(), dir.filePath(QStringLiteral("a.html")));

    bool shown = false;
    QTimer::singleShot(0, &dialog, [&] { shown = dialog.isVisible(); });
    EXPECT_FALSE(
        dialog.ScanForFiles(dir.filePath(QStringLiteral("missing")), QStringLiteral("*"), list));
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
}

TEST_F(FileListTest, AnInvalidMaskClosesTheDialogWithItsError)
{
    Make(QStringLiteral("a.html"));
    QStringList list;
    try {
        dialog.ScanForFiles(dir.path(), QStringLiteral("*.html[x"), list);
        FAIL() << "the invalid mask passed";
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), "'*.html[x' is an invalid mask at (9)");
    }
    EXPECT_FALSE(dialog.isVisible());
}

} // namespace
