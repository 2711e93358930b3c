// The folder scan and gathering a selection: order, filter, hidden files,
// backup folders, links, temporary files, cancel, and the folder question.
#include "processing/FolderScan.h"
#include "TreeHelpers.h"
#include "platform/Errors.h"
#include "processing/Backup.h"
#include "support/Translation.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrix;

namespace {

const QString allFiles = QStringLiteral("*");
const QString defaultFilter = QString::fromLatin1(defaultFileFilter);

// Every file below a folder in the order a recursive walk of the file
// system meets them, pre-order: the reference the scan is held to.
void Walk(const std::filesystem::path& folder, QStringList& out)
{
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_symlink() && entry.is_directory())
            continue;
        if (entry.is_directory())
            Walk(entry.path(), out);
        else
            out << QString::fromStdString(entry.path().string());
    }
}

class FolderScan : public ::testing::Test
{
protected:
    void TearDown() override { ApplicationTranslationTable().Clear(); }
    QString Path(const char* relative) const { return dir.filePath(QString::fromUtf8(relative)); }
    QString Make(const char* relative) { return WriteTreeFile(Path(relative), "<p>"); }
    QStringList Scan(const QString& filter, const QString& start = QString())
    {
        QStringList found;
        EXPECT_TRUE(ScanForFiles(start.isEmpty() ? dir.path() : start, filter, found));
        return found;
    }
    QTemporaryDir dir;
};

TEST_F(FolderScan, DepthFirstPreOrderInTheFoldersOwnOrder)
{
    for (const char* name : {"a.html", "b.html", "sub/c.html", "sub/deeper/d.html", "sub/e.html",
                             "z/f.html", "g.html", "sub/deeper/h.html", "other/x/y/i.html"})
        Make(name);
    QStringList expected;
    Walk(dir.path().toStdString(), expected);
    EXPECT_EQ(Scan(allFiles), expected);
    EXPECT_EQ(expected.size(), 9);
}

struct FilterCase
{
    const char* file;
    const char* filter;
    bool gathered;
};

const FilterCase filterCases[] = {
    {"page.htm", "*.htm;*.html", true},
    {"page.HTML", "*.htm;*.html", true},
    {"page.html.bak", "*.htm;*.html", false},
    {".hidden.html", "*.htm;*.html;*.asp;*.php", true},
    {"README", "*", true},    // every entry, also a name without a dot
    {"README", "*.*", false}, // ...but a mask is a mask
    {"index.php", "*.htm;*.html;*.asp;*.php", true},
    {".page.html.Ab12Cd.tmp", "*", false}, // a leftover of the atomic writer
    {".notes.tmp", "*", true},             // not one: gathered as the filter says
};

class ScanFilter : public FolderScan, public ::testing::WithParamInterface<FilterCase>
{
};

TEST_P(ScanFilter, GathersWhatFitsTheFilter)
{
    const FilterCase& c = GetParam();
    Make(c.file);
    const QStringList found = Scan(QString::fromLatin1(c.filter));
    EXPECT_EQ(found.contains(Path(c.file)), c.gathered) << c.file << " with " << c.filter;
    EXPECT_LE(found.size(), 1) << "a file that fits two masks is gathered once";
}

INSTANTIATE_TEST_SUITE_P(FolderScan, ScanFilter, ::testing::ValuesIn(filterCases));

TEST_F(FolderScan, BackupFoldersBelowAreNotSearchedButOneChosenAsStartIs)
{
    Make("index.html");
    Make("Kestrix Backup/index.html");
    Make("sub/Kestrix Backup/old.html");
    Make("sub/kestrix backup/other.html"); // a different name on this file system
    EXPECT_EQ(Scan(defaultFilter),
              (QStringList{Path("index.html"), Path("sub/kestrix backup/other.html")}));
    EXPECT_EQ(Scan(defaultFilter, Path("Kestrix Backup")),
              QStringList{Path("Kestrix Backup/index.html")});
}

TEST_F(FolderScan, TheTranslatedAndTheEnglishBackupFolderNamesAreLeftOut)
{
    ApplicationTranslationTable().Insert("STRING_TABLE", "Kestrix Backup", "Sicherung");
    Make("Sicherung/a.html");
    Make("Kestrix Backup/b.html");
    EXPECT_EQ(BackupPathFor(Path("c.html")), Path("Sicherung/c.html"));
    Make("c.html");
    // Backups made before the translation was installed are backups too.
    EXPECT_EQ(Scan(defaultFilter), QStringList{Path("c.html")});
}

TEST_F(FolderScan, LinksToFoldersAreNotFollowedLinksToFilesAreGathered)
{
    Make("sub/page.html");
    MakeLink(dir.path(), Path("sub/loop")); // leads above itself
    MakeLink(Path("sub"), Path("alias"));   // a second way into sub
    MakeLink(Path("sub/page.html"), Path("link.html"));
    MakeLink(Path("nowhere.html"), Path("dangling.html"));
    QStringList found = Scan(defaultFilter);
    found.sort();
    EXPECT_EQ(found,
              (QStringList{Path("dangling.html"), Path("link.html"), Path("sub/page.html")}));
}

TEST_F(FolderScan, CancelKeepsWhatWasFoundAndTheCountIsTheWholeList)
{
    for (int i = 0; i < 6; ++i)
        Make(QStringLiteral("f%1.html").arg(i).toUtf8().constData());
    struct StopAfter : FolderScanView
    {
        int entries = 0;
        QStringList counts;
        void ShowCount(const QString& text) override { counts << text; }
        bool KeepGoing() override { return ++entries <= 4; }
    } view;
    QStringList found{QStringLiteral("earlier 1"), QStringLiteral("earlier 2")};
    EXPECT_FALSE(ScanForFiles(dir.path(), allFiles, found, &view));
    EXPECT_EQ(found.size(), 2 + 4);
    EXPECT_EQ(view.counts.front(), QStringLiteral("3 files found."));
    EXPECT_EQ(view.counts.back(), QStringLiteral("6 files found."));
}

TEST_F(FolderScan, AMissingStartFolderAppendsNothing)
{
    QStringList found{QStringLiteral("kept")};
    EXPECT_FALSE(ScanForFiles(Path("missing"), allFiles, found));
    EXPECT_EQ(found, QStringList{QStringLiteral("kept")});
}

TEST_F(FolderScan, AnInvalidMaskStopsTheSearchWithItsError)
{
    Make("a.html");
    QStringList found;
    EXPECT_THROW(ScanForFiles(dir.path(), QStringLiteral("[a"), found), Failure);
}

// Gathering with answers given in place of the user.
struct ScriptedGathering : GatheringDialogs
{
    bool answer = true;
    int questions = 0;
    bool ConfirmFolderProcessing() override
    {
        ++questions;
        return answer;
    }
    bool ScanForFiles(const QString& folder, const QString& filter, QStringList& list) override
    {
        return kestrix::ScanForFiles(folder, filter, list);
    }
};

TEST_F(FolderScan, TheFolderQuestionIsAskedOnceAtTheFirstFolder)
{
    const QString one = Make("one.html");
    const QString two = Make("two.html");
    Make("A/a.html");
    Make("B/b.html");
    const QStringList selection{one, Path("A"), two, Path("B")};

    struct Case
    {
        bool expand;
        bool answer;
        QStringList expected;
        int questions;
    } cases[] = {
        {true, true, {one, Path("A/a.html"), two, Path("B/b.html")}, 1},
        {true, false, selection, 1},
        {false, true, selection, 0},
    };
    for (const Case& c : cases) {
        ScriptedGathering dialogs;
        dialogs.answer = c.answer;
        QStringList list{QStringLiteral("stale")};
        GatherSelection(list, selection, c.expand, defaultFilter, dialogs);
        EXPECT_EQ(list, c.expected);
        EXPECT_EQ(dialogs.questions, c.questions);
    }

    ScriptedGathering filesOnly;
    QStringList list;
    GatherSelection(list, {one, two}, true, defaultFilter, filesOnly);
    EXPECT_EQ(list, (QStringList{one, two}));
    EXPECT_EQ(filesOnly.questions, 0);
}

} // namespace
