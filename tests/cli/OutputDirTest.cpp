// kestrix-cli secure --output-dir run as a separate process: a tree with
// pages, other files, hidden files, links, a FIFO, backups and kept inputs is
// built into an output folder, then changed in one way per case and built
// again; what the rebuild wrote is read from the output's inodes and times.
#include "CliProcess.h"

#include "protection/SecurePage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

using namespace kestrix;

namespace {

const QByteArray page = "<html><head></head><body><p>Hello, reader</p></body></html>\n";
const QByteArray otherPage = "<html><head></head><body><p>Changed text</p></body></html>\n";

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

// What lstat tells of every entry below a folder (hidden ones, links and
// special files included), with the bytes' hash or the link's target; with
// `inodes`, the inode and change time too, which only a write changes.
using Snapshot = std::map<QString, QString>;

Snapshot Take(const QString& root, bool inodes)
{
    Snapshot snapshot;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        // A folder's own times change with its entries: only what it is.
        QString text = QString::number(st.st_mode, 8);
        if (!S_ISDIR(st.st_mode))
            text += QStringLiteral(" %1 %2.%3")
                        .arg(st.st_size)
                        .arg(st.st_mtim.tv_sec)
                        .arg(st.st_mtim.tv_nsec);
        if (inodes && !S_ISDIR(st.st_mode))
            text += QStringLiteral(" ino %1 ctime %2.%3")
                        .arg(st.st_ino)
                        .arg(st.st_ctim.tv_sec)
                        .arg(st.st_ctim.tv_nsec);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n =
                ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
            text += QStringLiteral(" -> ") + QString::fromLocal8Bit(target, n < 0 ? 0 : n);
        }
        if (S_ISREG(st.st_mode)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                text += QStringLiteral(" ") +
                        QString::fromLatin1(
                            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                .toHex());
        }
        snapshot[QDir(root).relativeFilePath(path)] = text;
    }
    return snapshot;
}

// The entries whose description differs, or that are in one only, sorted
// and joined.
std::string Changed(const Snapshot& before, const Snapshot& after);
QStringList ChangedList(const Snapshot& before, const Snapshot& after)
{
    QStringList changed;
    for (const auto& [path, text] : before) {
        const auto found = after.find(path);
        if (found == after.end() || found->second != text)
            changed << path;
    }
    for (const auto& [path, text] : after)
        if (!before.count(path))
            changed << path;
    changed.sort();
    return changed;
}

std::string Changed(const Snapshot& before, const Snapshot& after)
{
    return ChangedList(before, after).join(QStringLiteral(", ")).toStdString();
}

std::string Joined(const QStringList& list)
{
    return list.join(QStringLiteral(", ")).toStdString();
}

std::string Secured(const QByteArray& text, int level = -1)
{
    ProtectionEngine engine;
    engine.OptimiseActive = true;
    if (level >= 0)
        engine.settings.StrengthLevel = level;
    std::string result = text.toStdString();
    EXPECT_TRUE(engine.SecurePage(result));
    return result;
}

class OutputDir : public ::testing::Test
{
public: // the cases' changes use the helpers
    QTemporaryDir dir;

    QString Path(const QString& relative) const { return dir.filePath(relative); }
    QString Src(const QString& relative = {}) const
    {
        return Path(QStringLiteral("site/") + relative);
    }
    QString Out(const QString& relative = {}) const
    {
        return Path(QStringLiteral("out/") + relative);
    }
    void Write(const QString& path, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void Link(const QString& target, const QString& path)
    {
        ASSERT_EQ(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()),
            0);
    }
    Result Run(QStringList args)
    {
        args.prepend(QStringLiteral("secure"));
        const test::CliOutput run = test::RunCli(dir, args);
        return {run.exitCode, QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err)};
    }
    Result Build(const QStringList& extra = {})
    {
        return Run(extra + QStringList{QStringLiteral("--output-dir"), Out(), Src()});
    }

    // Pages, a page already secured, hidden files, an image with its own
    // mode and time, links to inside and outside, a link to a folder, a FIFO,
    // backups, a kept input and a file of the build state's name.
    void MakeTree()
    {
        Write(Src(QStringLiteral("index.html")), page);
        Write(Src(QStringLiteral("a/b/deep.htm")), page);
        Write(Src(QStringLiteral(".hidden.html")), page);
        Write(Src(QStringLiteral("done.html")), QByteArray::fromStdString(Secured(page)));
        Write(Src(QStringLiteral(".hiddenfile")), "dot");
        Write(Src(QStringLiteral("img/logo.png")), QByteArray("\x89PNG\r\n\x1a\n\0\1", 10));
        const QByteArray logo = QFile::encodeName(Src(QStringLiteral("img/logo.png")));
        ::chmod(logo.constData(), 0640);
        const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
        ::utimes(logo.constData(), old);
        Link(QStringLiteral("index.html"), Src(QStringLiteral("link-in.html")));
        Write(Path(QStringLiteral("outside/secret.html")), page);
        Link(Path(QStringLiteral("outside/secret.html")), Src(QStringLiteral("link-out.html")));
        Link(QStringLiteral("a"), Src(QStringLiteral("folder-link")));
        ASSERT_EQ(::mkfifo(QFile::encodeName(Src(QStringLiteral("pipe"))).constData(), 0644), 0);
        Write(Src(QStringLiteral("Kestrix Backup/index.html")), page);
        Write(Src(QStringLiteral("a/Kestrix Backup/x.html")), page);
        Write(Src(QStringLiteral("input.kestrix")), page);
        Link(QStringLiteral("input.kestrix"), Src(QStringLiteral("again.KESTRIX")));
        Write(Src(QStringLiteral(".kestrix-build")), "not a state");
    }

    QStringList OutFiles() const
    {
        QStringList all;
        for (const auto& [path, text] : Take(Out(), false))
            all << path;
        return all;
    }
};

const QString pagesAllBuilt = QStringLiteral("3 secured, 2 passed over, 0 failed\n");

TEST_F(OutputDir, BuildsTheTreeAndLeavesTheSourceAsItWas)
{
    MakeTree();
    const Snapshot source = Take(Src(), true);
    const Snapshot outside = Take(Path(QStringLiteral("outside")), true);

    Result r = Build();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(Src(QStringLiteral("pipe")) +
                               QStringLiteral(": This is not a plain file (a FIFO, a socket or a "
                                              "device) and was not copied.")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(
        QStringLiteral("5 other files copied or linked, 0 left as they were, 0 removed from the "
                       "output folder\n") +
        pagesAllBuilt))
        << r.err.toStdString();
    EXPECT_EQ(Joined(OutFiles()),
              Joined(QStringList{QStringLiteral(".hidden.html"), QStringLiteral(".hiddenfile"),
                                 QStringLiteral(".kestrix-build"), QStringLiteral("a"),
                                 QStringLiteral("a/b"), QStringLiteral("a/b/deep.htm"),
                                 QStringLiteral("done.html"), QStringLiteral("folder-link"),
                                 QStringLiteral("img"), QStringLiteral("img/logo.png"),
                                 QStringLiteral("index.html"), QStringLiteral("link-in.html"),
                                 QStringLiteral("link-out.html")}));
    for (const char* name : {"index.html", "a/b/deep.htm", ".hidden.html"})
        EXPECT_EQ(Read(Out(QLatin1String(name))).toStdString(), Secured(page)) << name;
    EXPECT_EQ(Read(Out(QStringLiteral("done.html"))), Read(Src(QStringLiteral("done.html"))));
    EXPECT_EQ(Read(Out(QStringLiteral(".hiddenfile"))), "dot");
    EXPECT_EQ(QFile::symLinkTarget(Out(QStringLiteral("link-in.html"))),
              Out(QStringLiteral("index.html")));
    EXPECT_EQ(QFile::symLinkTarget(Out(QStringLiteral("link-out.html"))),
              Path(QStringLiteral("outside/secret.html")));
    EXPECT_EQ(QFile::symLinkTarget(Out(QStringLiteral("folder-link"))), Out(QStringLiteral("a")));

    // The image as it is: bytes, mode and modification time.
    struct stat in, out, state;
    ::lstat(QFile::encodeName(Src(QStringLiteral("img/logo.png"))).constData(), &in);
    ::lstat(QFile::encodeName(Out(QStringLiteral("img/logo.png"))).constData(), &out);
    EXPECT_EQ(Read(Out(QStringLiteral("img/logo.png"))), Read(Src(QStringLiteral("img/logo.png"))));
    EXPECT_EQ(out.st_mode & 07777, 0640u);
    EXPECT_EQ(out.st_mtim.tv_sec, in.st_mtim.tv_sec);
    EXPECT_NE(out.st_ino, in.st_ino);

    // The state holds no clear text, and only its owner may read it.
    const QByteArray stateText = Read(Out(QStringLiteral(".kestrix-build")));
    EXPECT_FALSE(stateText.contains("Hello")) << stateText.constData();
    EXPECT_FALSE(stateText.contains("PNG"));
    ::lstat(QFile::encodeName(Out(QStringLiteral(".kestrix-build"))).constData(), &state);
    EXPECT_EQ(state.st_mode & 07777, 0600u);

    EXPECT_EQ(Take(Src(), true), source);
    EXPECT_EQ(Take(Path(QStringLiteral("outside")), true), outside);

    // The audit of the output passes over the state; the secured pages
    // leak nothing.
    const test::CliOutput audit = test::RunCli(dir, {QStringLiteral("audit"), Out()});
    EXPECT_EQ(audit.exitCode, 0) << audit.out.constData() << audit.err.constData();

    // Built again unchanged: nothing written, not even the state.
    const Snapshot built = Take(Out(), true);
    r = Build({QStringLiteral("--jobs"), QStringLiteral("2")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(
        QStringLiteral("0 other files copied or linked, 5 left as they were, 0 removed from the "
                       "output folder\n0 secured, 5 passed over, 0 failed\n")))
        << r.err.toStdString();
    EXPECT_EQ(Changed(built, Take(Out(), true)), "");
    EXPECT_EQ(Take(Src(), true), source);
}

// One change after a first build, and what the rebuild must write.
struct RebuildCase
{
    const char* name;
    std::function<void(OutputDir&)> change;
    QStringList extra;     // options of the rebuild
    QStringList written;   // output entries that change (the state aside)
    const char* otherLine; // the count of other files
    const char* summary;   // the closing line
};

void PrintTo(const RebuildCase& c, std::ostream* os)
{
    *os << c.name;
}

class Rebuild : public OutputDir, public ::testing::WithParamInterface<RebuildCase>
{
};

TEST_P(Rebuild, WritesOnlyWhatChanged)
{
    const RebuildCase& c = GetParam();
    MakeTree();
    Result r = Build();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    Snapshot before = Take(Out(), true);
    before.erase(QStringLiteral(".kestrix-build"));
    c.change(*this);
    r = Build(c.extra);
    Snapshot after = Take(Out(), true);
    after.erase(QStringLiteral(".kestrix-build"));
    EXPECT_EQ(Changed(before, after), Joined(c.written)) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(QLatin1String(c.otherLine) + QLatin1Char('\n') +
                               QLatin1String(c.summary) + QLatin1Char('\n')))
        << r.err.toStdString();

    // Whatever the change, a third build writes nothing at all.
    const Snapshot settled = Take(Out(), true);
    r = Build(c.extra);
    EXPECT_EQ(Changed(settled, Take(Out(), true)), "") << r.err.toStdString();
}

void Touch(const QString& path)
{
    const timeval later[2] = {{2000000000, 0}, {2000000000, 0}};
    ::utimes(QFile::encodeName(path).constData(), later);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rebuild,
    ::testing::Values(
        RebuildCase{"OnePageChanged",
                    [](OutputDir& t) { t.Write(t.Src(QStringLiteral("a/b/deep.htm")), otherPage); },
                    {},
                    {QStringLiteral("a/b/deep.htm")},
                    "0 other files copied or linked, 5 left as they were, 0 removed from the "
                    "output folder",
                    "1 secured, 4 passed over, 0 failed"},
        RebuildCase{"SameBytesNewTimes",
                    [](OutputDir& t) {
                        t.Write(t.Src(QStringLiteral("index.html")), page);
                        Touch(t.Src(QStringLiteral("index.html")));
                        Touch(t.Src(QStringLiteral(".hiddenfile")));
                    },
                    {},
                    {},
                    "0 other files copied or linked, 5 left as they were, 0 removed from the "
                    "output folder",
                    "0 secured, 5 passed over, 0 failed"},
        RebuildCase{"OtherSettings",
                    [](OutputDir&) {},
                    {QStringLiteral("--level"), QStringLiteral("3")},
                    {QStringLiteral(".hidden.html"), QStringLiteral("a/b/deep.htm"),
                     QStringLiteral("done.html"), QStringLiteral("index.html")},
                    "0 other files copied or linked, 5 left as they were, 0 removed from the "
                    "output folder",
                    "3 secured, 2 passed over, 0 failed"},
        RebuildCase{"OtherParts",
                    [](OutputDir&) {},
                    {QStringLiteral("-e")},
                    {QStringLiteral(".hidden.html"), QStringLiteral("a/b/deep.htm"),
                     QStringLiteral("done.html"), QStringLiteral("index.html")},
                    "0 other files copied or linked, 5 left as they were, 0 removed from the "
                    "output folder",
                    "3 secured, 2 passed over, 0 failed"},
        RebuildCase{"OtherFilter",
                    [](OutputDir&) {},
                    // Only *.htm are pages now: the .html files are copied
                    // as they are, as the filter says.
                    {QStringLiteral("--filter"), QStringLiteral("*.htm")},
                    {QStringLiteral(".hidden.html"), QStringLiteral("done.html"),
                     QStringLiteral("index.html")},
                    "3 other files copied or linked, 5 left as they were, 0 removed from the "
                    "output folder",
                    "0 secured, 2 passed over, 0 failed"},
        RebuildCase{"SourceFilesRemoved",
                    [](OutputDir& t) {
                        QFile::remove(t.Src(QStringLiteral("img/logo.png")));
                        QDir(t.Src(QStringLiteral("a/b"))).removeRecursively();
                        QFile::remove(t.Src(QStringLiteral("link-in.html")));
                    },
                    {},
                    {QStringLiteral("a/b"), QStringLiteral("a/b/deep.htm"),
                     QStringLiteral("img/logo.png"), QStringLiteral("link-in.html")},
                    "0 other files copied or linked, 3 left as they were, 4 removed from the "
                    "output folder",
                    "0 secured, 4 passed over, 0 failed"},
        RebuildCase{"UsersOwnFilesStay",
                    [](OutputDir& t) {
                        t.Write(t.Out(QStringLiteral("mine.txt")), "mine");
                        t.Write(t.Out(QStringLiteral("a/b/mine.html")), "mine");
                        QDir(t.Src(QStringLiteral("a"))).removeRecursively();
                    },
                    {},
                    // a/b/deep.htm goes; the user's files and so their
                    // folders stay.
                    {QStringLiteral("a/b/deep.htm"), QStringLiteral("a/b/mine.html"),
                     QStringLiteral("mine.txt")},
                    "0 other files copied or linked, 5 left as they were, 1 removed from the "
                    "output folder",
                    "0 secured, 4 passed over, 0 failed"},
        RebuildCase{"OutputChangedByHand",
                    [](OutputDir& t) {
                        QFile::remove(t.Out(QStringLiteral("index.html")));
                        t.Write(t.Out(QStringLiteral(".hiddenfile")), "edited");
                    },
                    {},
                    {QStringLiteral(".hiddenfile"), QStringLiteral("index.html")},
                    "1 other files copied or linked, 4 left as they were, 0 removed from the "
                    "output folder",
                    "1 secured, 4 passed over, 0 failed"},
        RebuildCase{"FileBecomesFolder",
                    [](OutputDir& t) {
                        QFile::remove(t.Src(QStringLiteral(".hiddenfile")));
                        t.Write(t.Src(QStringLiteral(".hiddenfile/in.txt")), "in");
                    },
                    {},
                    {QStringLiteral(".hiddenfile"), QStringLiteral(".hiddenfile/in.txt")},
                    "1 other files copied or linked, 4 left as they were, 1 removed from the "
                    "output folder",
                    "0 secured, 5 passed over, 0 failed"},
        RebuildCase{"TemporaryOfAKilledBuild",
                    [](OutputDir& t) {
                        // Beside a page of the build: removed; beside the
                        // user's own file: theirs.
                        t.Write(t.Out(QStringLiteral(".index.html.AbC123.tmp")), "half");
                        t.Write(t.Out(QStringLiteral(".mine.txt.AbC123.tmp")), "mine");
                    },
                    {},
                    {QStringLiteral(".mine.txt.AbC123.tmp")},
                    "0 other files copied or linked, 5 left as they were, 1 removed from the "
                    "output folder",
                    "0 secured, 5 passed over, 0 failed"},
        RebuildCase{"LinkedInstead",
                    [](OutputDir&) {},
                    {QStringLiteral("--link")},
                    {QStringLiteral(".hiddenfile"), QStringLiteral("img/logo.png")},
                    "2 other files copied or linked, 3 left as they were, 0 removed from the "
                    "output folder",
                    "0 secured, 5 passed over, 0 failed"}),
    [](const ::testing::TestParamInfo<RebuildCase>& info) { return info.param.name; });

TEST_F(OutputDir, LinkedFilesAreTheSourceFiles)
{
    MakeTree();
    Result r = Build({QStringLiteral("--link")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    struct stat in, out;
    ::lstat(QFile::encodeName(Src(QStringLiteral("img/logo.png"))).constData(), &in);
    ::lstat(QFile::encodeName(Out(QStringLiteral("img/logo.png"))).constData(), &out);
    EXPECT_EQ(in.st_ino, out.st_ino);
    // Pages are never linked: they are secured.
    EXPECT_EQ(Read(Out(QStringLiteral("index.html"))).toStdString(), Secured(page));
}

TEST_F(OutputDir, RefusesAnOutputFolderInsideTheSourceOrAroundIt)
{
    MakeTree();
    Link(QStringLiteral("site/a"), Path(QStringLiteral("alias")));
    const Snapshot source = Take(Src(), true);
    const struct
    {
        QString output, source;
        const char* message;
    } cases[] = {
        {Src(QStringLiteral("out")), Src(), "The output folder is the folder it is built from"},
        {Src(), Src(), "The output folder is the folder it is built from"},
        {Src(QStringLiteral("a/new/deeper")), Src(),
         "The output folder is the folder it is built from"},
        {Path(QStringLiteral("alias/out")), Src(),
         "The output folder is the folder it is built from"},
        {Path(QString()), Src(), "The folder to build from lies in the output folder"},
    };
    for (const auto& c : cases) {
        const Result r = Run({QStringLiteral("--output-dir"), c.output, c.source});
        EXPECT_EQ(r.exitCode, 1) << c.output.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
    }
    EXPECT_EQ(Take(Src(), true), source);
}

TEST_F(OutputDir, APlantedLinkInTheOutputNeverLeadsOutOfIt)
{
    MakeTree();
    ASSERT_EQ(Build().exitCode, 0);
    const QString outside = Path(QStringLiteral("outside"));
    // A folder of the output and a page of it become links to the outside.
    QDir(Out(QStringLiteral("a"))).removeRecursively();
    Link(outside, Out(QStringLiteral("a")));
    QFile::remove(Out(QStringLiteral("index.html")));
    Link(Path(QStringLiteral("outside/secret.html")), Out(QStringLiteral("index.html")));
    // The state too: read and replaced, never written through.
    Write(Path(QStringLiteral("outside/state")), "kestrix-build\t1\n");
    QFile::remove(Out(QStringLiteral(".kestrix-build")));
    Link(Path(QStringLiteral("outside/state")), Out(QStringLiteral(".kestrix-build")));
    const Snapshot outsideBefore = Take(outside, true);
    Write(Src(QStringLiteral("a/b/deep.htm")), otherPage);
    Write(Src(QStringLiteral("index.html")), otherPage);

    const Result r = Build();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.err.contains(QStringLiteral(": Its folder in the output folder is a link or not a "
                                      "folder, so nothing was written there.")))
        << r.err.toStdString();
    EXPECT_EQ(Take(outside, true), outsideBefore);
    // The planted page link is replaced by the page, not written through.
    EXPECT_FALSE(QFileInfo(Out(QStringLiteral("index.html"))).isSymLink());
    EXPECT_EQ(Read(Out(QStringLiteral("index.html"))).toStdString(), Secured(otherPage));
    EXPECT_TRUE(r.err.contains(QStringLiteral("is not a build state this program wrote")));
    EXPECT_FALSE(QFileInfo(Out(QStringLiteral(".kestrix-build"))).isSymLink());
    EXPECT_EQ(Read(Path(QStringLiteral("outside/state"))), "kestrix-build\t1\n");
}

TEST_F(OutputDir, DryRunListsAndWritesNothing)
{
    Write(Src(QStringLiteral("index.html")), page);
    Write(Src(QStringLiteral("style.css")), "p{}");
    Result r = Build({QStringLiteral("--dry-run")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, Src(QStringLiteral("index.html")) + QStringLiteral(" would be secured\n") +
                         Src(QStringLiteral("style.css")) + QStringLiteral(" would be copied\n"));
    EXPECT_TRUE(r.err.endsWith(
        QStringLiteral("1 other files would be copied or linked, 0 left as they were, 0 would be "
                       "removed from the output folder\n1 would be secured, 0 passed over, 0 "
                       "failed\n")))
        << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Out()));

    ASSERT_EQ(Build().exitCode, 0);
    // What was built checks out against its source.
    const test::CliOutput verify =
        test::RunCli(dir, {QStringLiteral("verify"), QStringLiteral("--source"), Src(), Out()});
    EXPECT_EQ(verify.exitCode, 0) << verify.err.constData();
    EXPECT_TRUE(verify.err.endsWith("1 verified, 0 without backup, 0 failed\n"))
        << verify.err.constData();
    QFile::remove(Src(QStringLiteral("style.css")));
    Write(Src(QStringLiteral("index.html")), otherPage);
    const Snapshot built = Take(Out(), true);
    r = Build({QStringLiteral("--dry-run")});
    EXPECT_EQ(r.out, Out(QStringLiteral("style.css")) + QStringLiteral(" would be removed\n") +
                         Src(QStringLiteral("index.html")) + QStringLiteral(" would be secured\n"));
    EXPECT_EQ(Changed(built, Take(Out(), true)), "");
}

TEST_F(OutputDir, FailuresAreNotRecordedAndARerunMendsThem)
{
    Write(Src(QStringLiteral("good.html")), page);
    Write(Src(QStringLiteral("nobody.html")), "<p>no body</p>");
    Result r = Build();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("An error occurred securing file ") +
                               Src(QStringLiteral("nobody.html"))));
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("1 secured, 0 passed over, 1 failed\n")));
    // Nothing of the failed page is published: not even its clear text.
    EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("nobody.html"))));

    Write(Src(QStringLiteral("nobody.html")), page);
    r = Build();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("1 secured, 1 passed over, 0 failed\n")));
    EXPECT_EQ(Read(Out(QStringLiteral("nobody.html"))).toStdString(), Secured(page));

    // A state that is not one this program wrote: a warning, everything
    // written anew, and nothing removed as an earlier build's.
    Write(Out(QStringLiteral(".kestrix-build")), "garbage");
    Write(Out(QStringLiteral("left.txt")), "left");
    r = Build();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("is not a build state this program wrote")));
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("2 secured, 0 passed over, 0 failed\n")));
    EXPECT_TRUE(QFileInfo::exists(Out(QStringLiteral("left.txt"))));
}

TEST_F(OutputDir, TwoBuildsAtOnceTakeTurns)
{
    for (int i = 0; i < 300; ++i)
        Write(Src(QStringLiteral("p%1/page%2.html").arg(i % 7).arg(i)), page);
    std::thread other([&] { Build({QStringLiteral("--jobs"), QStringLiteral("2")}); });
    const Result r = Build({QStringLiteral("--jobs"), QStringLiteral("2")});
    other.join();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Whichever ran second found the first one's work done and recorded.
    const Snapshot built = Take(Out(), true);
    const Result again = Build();
    EXPECT_TRUE(again.err.endsWith(QStringLiteral("0 secured, 300 passed over, 0 failed\n")))
        << again.err.toStdString();
    EXPECT_EQ(Changed(built, Take(Out(), true)), "");
}

TEST_F(OutputDir, ABuildKilledPartWayIsCompletedByTheNext)
{
    constexpr int pages = 800;
    for (int i = 0; i < pages; ++i)
        Write(Src(QStringLiteral("p%1/page%2.html").arg(i % 9).arg(i)), page);
    ASSERT_EQ(Build().exitCode, 0);
    // Every page changes, and the build is killed while it writes them.
    for (int i = 0; i < pages; ++i)
        Write(Src(QStringLiteral("p%1/page%2.html").arg(i % 9).arg(i)), otherPage);
    for (int kill = 0; kill < 3; ++kill) {
        QProcess process;
        process.setProcessEnvironment(test::IsolatedEnvironment(dir));
        process.start(QStringLiteral(KESTRIX_CLI_PATH),
                      {QStringLiteral("secure"), QStringLiteral("--output-dir"), Out(), Src()});
        ASSERT_TRUE(process.waitForStarted());
        ::usleep(useconds_t(30000 + 40000 * kill));
        process.kill();
        process.waitForFinished();
    }
    const Result r = Build();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (int i = 0; i < pages; ++i)
        ASSERT_EQ(Read(Out(QStringLiteral("p%1/page%2.html").arg(i % 9).arg(i))).toStdString(),
                  Secured(otherPage))
            << i;
    const Snapshot built = Take(Out(), true);
    const Result again = Build();
    EXPECT_TRUE(
        again.err.endsWith(QStringLiteral("0 secured, %1 passed over, 0 failed\n").arg(pages)))
        << again.err.toStdString();
    EXPECT_EQ(Changed(built, Take(Out(), true)), "");
    // No temporary file of a killed write is left where it would be
    // published.
    for (const auto& [path, text] : built)
        EXPECT_FALSE(QFileInfo(path).fileName().startsWith(u'.') &&
                     path.endsWith(QLatin1String(".tmp")))
            << path.toStdString();
}

TEST_F(OutputDir, UsageErrors)
{
    Write(Src(QStringLiteral("index.html")), page);
    const QStringList cases[] = {
        {QStringLiteral("--link"), Src()},
        {QStringLiteral("--output-dir"), Out(), Src(), Path(QStringLiteral("other"))},
        {QStringLiteral("-a"), QStringLiteral("--verify"), QStringLiteral("--output-dir"), Out(),
         Src()},
    };
    for (const QStringList& args : cases)
        EXPECT_EQ(Run(args).exitCode, 2) << args.join(u' ').toStdString();
}

// A build's report, checked with --verify: one line per file with what was
// done to it (pages secured with their sizes, level and parts; other files
// copied; unchanged ones passed over on the rebuild), then the totals.
TEST_F(OutputDir, ReportAndVerifyOfABuildAndARebuild)
{
    Write(Src(QStringLiteral("index.html")), page);
    Write(Src(QStringLiteral("img/logo.png")), QByteArray("\x89PNG\r\n\x1a\n\0\1", 10));
    Write(Src(QStringLiteral("done.html")), QByteArray::fromStdString(Secured(page)));
    const struct
    {
        const char* run;
        std::function<void()> change;        // before the run
        std::map<QString, QString> outcomes; // path -> outcome
        QString totals;
    } runs[] = {
        {"first",
         nullptr,
         {{QStringLiteral("index.html"), QStringLiteral("secured")},
          {QStringLiteral("img/logo.png"), QStringLiteral("copied")},
          {QStringLiteral("done.html"), QStringLiteral("passed-over")}},
         QStringLiteral("secured 1 passed-over 1 failed 0 copied 1 unchanged 0 removed 0")},
        {"unchanged",
         nullptr,
         {{QStringLiteral("index.html"), QStringLiteral("passed-over")},
          {QStringLiteral("img/logo.png"), QStringLiteral("passed-over")},
          {QStringLiteral("done.html"), QStringLiteral("passed-over")}},
         QStringLiteral("secured 0 passed-over 2 failed 0 copied 0 unchanged 1 removed 0")},
        {"image gone, page changed",
         [&] {
             QFile::remove(Src(QStringLiteral("img/logo.png")));
             Write(Src(QStringLiteral("index.html")), otherPage);
         },
         {{QStringLiteral("index.html"), QStringLiteral("secured")},
          {QStringLiteral("img/logo.png"), QStringLiteral("removed")},
          {QStringLiteral("done.html"), QStringLiteral("passed-over")}},
         QStringLiteral("secured 1 passed-over 1 failed 0 copied 0 unchanged 0 removed 1")},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.run);
        if (r.change)
            r.change();
        const QString report = Path(QStringLiteral("build.jsonl"));
        const Result run = Build({QStringLiteral("-e"), QStringLiteral("-a"), QStringLiteral("-o"),
                                  QStringLiteral("--level"), QStringLiteral("3"),
                                  QStringLiteral("--verify"), QStringLiteral("--report"), report});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QList<QByteArray> lines = Read(report).trimmed().split('\n');
        ASSERT_EQ(lines.size(), 4) << Read(report).constData();
        std::map<QString, QString> outcomes;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
            EXPECT_EQ(line[QStringLiteral("root")].toString(), Src());
            const QString path = line[QStringLiteral("path")].toString();
            outcomes[path] = line[QStringLiteral("outcome")].toString();
            const bool secured = outcomes[path] == QLatin1String("secured");
            EXPECT_EQ(line[QStringLiteral("level")].toInt(-1), secured ? 3 : -1)
                << lines[i].constData();
            EXPECT_EQ(line[QStringLiteral("parts")].toInt(-1), secured ? 7 : -1);
            if (secured)
                EXPECT_EQ(line[QStringLiteral("bytes_after")].toInteger(),
                          QFileInfo(Out(path)).size());
        }
        EXPECT_EQ(outcomes, r.outcomes);
        const QJsonObject totals = QJsonDocument::fromJson(lines[3]).object();
        QStringList counted;
        for (const char* name :
             {"secured", "passed-over", "failed", "copied", "unchanged", "removed"})
            counted << QLatin1String(name)
                    << QString::number(totals[QLatin1String(name)].toInteger());
        EXPECT_EQ(counted.join(u' '), r.totals);
    }
}

} // namespace
