// Securing and restoring a tree that is not ours: links planted where pages
// and backups go, FIFOs and devices named as pages, names that are not text,
// paths too long, backup folders named as the start, hard links; and two
// runs at once over the same pages. Every case runs through the core (the
// run the window and kestrix-cli share) and through kestrix-cli itself, and
// checks byte for byte that nothing outside the tree changed and that no
// page lost its clear text.
#include "../processing/TreeHelpers.h"
#include "CliProcess.h"

#include "processing/Backup.h"
#include "processing/SiteRun.h"
#include "protection/SecurePage.h"

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace kestrix;
namespace fs = std::filesystem;

namespace {

// What a tree holds, seen without following a link or opening a FIFO:
// every entry's kind, mode, owner and bytes (or link target).
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& root)
{
    Snapshot snapshot;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root)))
        return snapshot;
    for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0)
            continue;
        std::string value = std::to_string(st.st_mode) + ":" + std::to_string(st.st_uid) + ":" +
                            std::to_string(st.st_gid) + ":";
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(it->path(), std::ios::binary);
            value += std::string(std::istreambuf_iterator<char>(in), {});
        } else if (S_ISLNK(st.st_mode)) {
            value += fs::read_symlink(it->path(), error).string();
        }
        snapshot[fs::relative(it->path(), root).string()] = value;
    }
    return snapshot;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Page(const std::string& text)
{
    return "<html><head><title>" + text + "</title></head><body><p>" + text +
           "</p></body></html>\n";
}

// One hostile case: how the tree is built, what is run, what must be said.
struct Case
{
    const char* name;
    std::function<void(const fs::path& site, const fs::path& outside)> build;
    bool restore = false; // secure, then the case is built, then restore
    int exitCode = 1;
    const char* message = ""; // part of what is listed
    const char* start = "";   // the path given, below the site ("" the site)
    bool needsRoot = false;
    // Whether every page's clear text must still be there: not when the
    // case itself takes the backups away.
    bool backupsKept = true;
    // Run by a user without privileges (kestrix-cli only: the core runs in
    // this process, as root, for whom every folder can be listed).
    bool asOtherUser = false;
};

// The user the unprivileged cases run as, and a tree that user owns.
constexpr uid_t otherUser = 65534;

void GiveTreeTo(const fs::path& top, uid_t user)
{
    EXPECT_EQ(::chown(top.c_str(), user, user), 0);
    for (const auto& entry : fs::recursive_directory_iterator(top))
        EXPECT_EQ(::lchown(entry.path().c_str(), user, user), 0) << entry.path();
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        {"BackupIsALinkToAFileOutside",
         [](const fs::path& site, const fs::path& outside) {
             fs::create_directories(site / "Kestrix Backup");
             fs::create_symlink(outside / "target.html", site / "Kestrix Backup/index.html");
         },
         false, 1, "Its backup is not a plain file"},
        {"BackupIsALinkToAFileOutsideOnRestore",
         [](const fs::path& site, const fs::path& outside) {
             fs::remove(site / "Kestrix Backup/index.html");
             fs::create_symlink(outside / "target.html", site / "Kestrix Backup/index.html");
         },
         true, 1, "Its backup is not a plain file", "", false, false},
        {"BackupFolderIsALinkToAFolderOutside",
         [](const fs::path& site, const fs::path& outside) {
             fs::create_directory_symlink(outside, site / "Kestrix Backup");
         },
         false, 1, "Its backup folder is a link or not a folder"},
        {"BackupFolderIsALinkOnRestore",
         [](const fs::path& site, const fs::path& outside) {
             fs::rename(site / "Kestrix Backup", site / "moved");
             WriteBytes(outside / "index.html", Page("planted"));
             fs::create_directory_symlink(outside, site / "Kestrix Backup");
         },
         true, 1, "Its backup folder is a link or not a folder", "", false, false},
        {"BackupFolderIsAFile",
         [](const fs::path& site, const fs::path&) {
             WriteBytes(site / "Kestrix Backup", "not a folder");
         },
         false, 1, "Its backup folder is a link or not a folder"},
        {"BackupIsAFifo",
         [](const fs::path& site, const fs::path&) {
             fs::create_directories(site / "Kestrix Backup");
             ::mkfifo((site / "Kestrix Backup/index.html").c_str(), 0644);
         },
         false, 1, "Its backup is not a plain file"},
        {"PageIsALinkToAFileOutside",
         [](const fs::path& site, const fs::path& outside) {
             fs::create_symlink(outside / "target.html", site / "link.html");
         },
         false, 1, "link.html: This is not a plain file (a link or a device) and was passed over."},
        {"PageIsAFifo",
         [](const fs::path& site, const fs::path&) {
             ::mkfifo((site / "fifo.html").c_str(), 0644);
         },
         false, 1, "fifo.html: This is not a plain file"},
        {"PageIsACharacterDevice",
         [](const fs::path& site, const fs::path&) {
             ::mknod((site / "zero.html").c_str(), S_IFCHR | 0644, makedev(1, 5));
         },
         false, 1, "zero.html: This is not a plain file", "", true},
        {"FolderNameIsNotText",
         [](const fs::path& site, const fs::path&) {
             WriteBytes(site / "bad\xff" / "page.html", Page("bad folder"));
         },
         false, 1, "The name is not valid text"},
        {"PageNameIsNotText",
         [](const fs::path& site, const fs::path&) {
             WriteBytes(site / "bad\xfe.html", Page("bad name"));
         },
         false, 1, "The name is not valid text"},
        {"PathTooLong",
         [](const fs::path& site, const fs::path&) {
             // Made a folder at a time, relative to the last one.
             const int top = ::open(site.c_str(), O_RDONLY | O_DIRECTORY);
             int fd = top;
             const std::string part(200, 'd');
             for (int i = 0; i < 22; ++i) {
                 ::mkdirat(fd, part.c_str(), 0755);
                 const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
                 if (fd != top)
                     ::close(fd);
                 fd = next;
             }
             const int file = ::openat(fd, "deep.html", O_WRONLY | O_CREAT, 0644);
             const std::string bytes = Page("deep");
             EXPECT_EQ(::write(file, bytes.data(), bytes.size()), ssize_t(bytes.size()));
             ::close(file);
             ::close(fd);
             ::close(top);
         },
         false, 1, "File name too long"},
        {"FolderCannotBeListed",
         [](const fs::path& site, const fs::path&) {
             WriteBytes(site / "locked" / "page.html", Page("locked"));
             // The site's owner may enter the folder but not read its names.
             ::chmod(site.parent_path().c_str(), 0755);
             GiveTreeTo(site, otherUser);
             ::chmod((site / "locked").c_str(), 0300);
         },
         false, 1, "Permission denied", "", true, true, true},
        {"StartIsTheBackupFolder", [](const fs::path&, const fs::path&) {}, false, 0,
         "This is a backup folder or lies in one, and was passed over.", "Kestrix Backup"},
        {"TwoNamesOfOneFileAreTwoPages",
         [](const fs::path& site, const fs::path&) {
             fs::create_hard_link(site / "index.html", site / "second.html");
         },
         false, 0, "3 secured"},
        {"PrivatePageOfAnotherUserKeepsModeAndOwner",
         [](const fs::path& site, const fs::path&) {
             ::chmod((site / "index.html").c_str(), 0600);
             EXPECT_EQ(::chown((site / "index.html").c_str(), 4321, 4321), 0);
         },
         false, 0, "2 secured", "", true},
    };
    return cases;
}

// The program run: kestrix-cli of this build, or another one named in
// KESTRIX_TEST_CLI (to see what an earlier version does with the cases).
QString CliPath()
{
    const QByteArray other = qgetenv("KESTRIX_TEST_CLI");
    return other.isEmpty() ? QStringLiteral(KESTRIX_CLI_PATH) : QString::fromLocal8Bit(other);
}

// The core's report, as lines.
class Collected : public SiteRunReport
{
public:
    QStringList lines;
    void FileDone(int, int, const SiteFileResult& result) override
    {
        for (const ProgressMessage& message : result.messages)
            lines << message.text;
    }
};

class HostileTree : public ::testing::TestWithParam<std::tuple<Case, bool>>
{
protected:
    QTemporaryDir dir;
    fs::path site, outside;
    std::map<std::string, std::string> originals; // page below site -> bytes

    void SetUp() override
    {
        site = fs::path(dir.path().toStdString()) / "site";
        outside = fs::path(dir.path().toStdString()) / "outside";
        WriteBytes(outside / "target.html", "SECRET, NOT A PAGE OF THE SITE\n");
        for (const char* name : {"index.html", "sub/a.html"}) {
            originals[name] = Page(name);
            WriteBytes(site / name, originals[name]);
        }
    }

    // Runs the command through the core or kestrix-cli: its exit status
    // and its messages.
    std::pair<int, QString> Run(bool restore, bool cli, const fs::path& start)
    {
        const QString path = QString::fromStdString(start.string());
        if (cli) {
            QStringList args{restore ? QStringLiteral("restore") : QStringLiteral("secure"), path};
            QString program = CliPath();
            if (std::get<0>(GetParam()).asOtherUser) {
                args.prepend(program);
                args = QStringList{QStringLiteral("--reuid=%1").arg(otherUser),
                                   QStringLiteral("--regid=%1").arg(otherUser),
                                   QStringLiteral("--clear-groups")} +
                       args;
                program = QStringLiteral("setpriv");
            }
            const test::CliOutput out = test::RunCli(dir, args, {}, program);
            return {out.exitCode, QString::fromLocal8Bit(out.err)};
        }
        Collected report;
        SiteRunOptions options;
        options.jobs = 2;
        ProtectionEngine engine;
        const SiteWorkList work = GatherSitePaths({path}, QStringLiteral("*.html"));
        const SiteRunTotals totals = restore ? RestoreSite(work, options, report)
                                             : SecureSite(work, engine, options, report);
        report.lines << QStringLiteral("%1 secured").arg(totals.done);
        return {totals.failed > 0 ? 1 : 0, report.lines.join(QLatin1Char('\n'))};
    }

    // Every page is its clear text, or secured with its clear text as its
    // backup.
    void ExpectNoClearTextLost()
    {
        for (const auto& [name, bytes] : originals) {
            const fs::path page = site / name;
            ASSERT_FALSE(fs::is_symlink(page)) << name;
            const std::string now = ReadBytes(page);
            if (now == bytes)
                continue;
            EXPECT_TRUE(IsSecuredPage(now)) << name;
            EXPECT_EQ(ReadBytes(page.parent_path() / "Kestrix Backup" / page.filename()), bytes)
                << name;
        }
    }
};

TEST_P(HostileTree, NothingOutsideChangesAndNoClearTextIsLost)
{
    const auto& [c, cli] = GetParam();
    if (c.needsRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    if (c.asOtherUser && !cli) {
        GTEST_SKIP() << "run in this process, as root, every folder can be listed";
    }
    if (c.restore) {
        ASSERT_EQ(Run(false, cli, site).first, 0);
    }
    c.build(site, outside);
    const Snapshot outsideBefore = Take(outside);
    const auto [exitCode, messages] = Run(c.restore, cli, site / c.start);
    EXPECT_EQ(exitCode, c.exitCode) << messages.toStdString();
    EXPECT_TRUE(messages.contains(QString::fromUtf8(c.message))) << messages.toStdString();
    EXPECT_EQ(Take(outside), outsideBefore);
    if (c.backupsKept)
        ExpectNoClearTextLost();
    EXPECT_NE(ReadBytes(site / "index.html"), Page("planted"));
    if (std::string(c.name) == "TwoNamesOfOneFileAreTwoPages") {
        EXPECT_TRUE(IsSecuredPage(ReadBytes(site / "second.html")));
        EXPECT_EQ(ReadBytes(site / "Kestrix Backup/second.html"), originals["index.html"]);
    }
    if (std::string(c.name) == "PrivatePageOfAnotherUserKeepsModeAndOwner") {
        for (const char* name : {"index.html", "Kestrix Backup/index.html"}) {
            struct stat st;
            ASSERT_EQ(::lstat((site / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
            EXPECT_EQ(st.st_uid, 4321u) << name;
            EXPECT_EQ(st.st_gid, 4321u) << name;
        }
        Run(true, cli, site);
        struct stat st;
        ASSERT_EQ(::lstat((site / "index.html").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(ReadBytes(site / "index.html"), originals["index.html"]);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileTree,
                         ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Cli" : "Core");
                         });

// Securing with two jobs and restoring the same pages at the same moment,
// five times over: whatever the order, each page ends as its clear text or
// secured with its clear text as backup, and a last restore gives back
// every page.
TEST(HostileTreeRace, SecuringAndRestoringAtOnceNeverLoseAClearText)
{
    QTemporaryDir dir;
    const fs::path site = fs::path(dir.path().toStdString()) / "site";
    std::map<fs::path, std::string> originals;
    for (int i = 0; i < 1000; ++i) {
        const fs::path page =
            site / ("d" + std::to_string(i % 10)) / ("p" + std::to_string(i) + ".html");
        originals[page] = Page("page " + std::to_string(i));
        WriteBytes(page, originals[page]);
    }
    const QString path = QString::fromStdString(site.string());
    auto check = [&] {
        for (const auto& [page, bytes] : originals) {
            const std::string now = ReadBytes(page);
            if (now == bytes)
                continue;
            ASSERT_TRUE(IsSecuredPage(now)) << page;
            ASSERT_EQ(ReadBytes(page.parent_path() / "Kestrix Backup" / page.filename()), bytes)
                << page;
        }
    };
    for (int round = 0; round < 5; ++round) {
        QProcess secure, restore;
        for (QProcess* process : {&secure, &restore}) {
            process->setProcessEnvironment(test::IsolatedEnvironment(dir));
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->setStandardErrorFile(QProcess::nullDevice());
        }
        secure.start(CliPath(), {QStringLiteral("secure"), QStringLiteral("--jobs"),
                                 QStringLiteral("2"), path});
        restore.start(CliPath(), {QStringLiteral("restore"), path});
        ASSERT_TRUE(secure.waitForFinished(120000));
        ASSERT_TRUE(restore.waitForFinished(120000));
        check();
    }
    const test::CliOutput last =
        test::RunCli(dir, {QStringLiteral("restore"), path}, {}, CliPath());
    EXPECT_EQ(last.exitCode, 0) << last.err.toStdString();
    for (const auto& [page, bytes] : originals)
        ASSERT_EQ(ReadBytes(page), bytes) << page;
}

} // namespace
