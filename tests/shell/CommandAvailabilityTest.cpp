// The commands a selection allows, without a window.
#include "shell/CommandAvailability.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrix {
namespace {

// A made-up tree: folders, files, and which files are read-only or have a
// backup; everything else is missing.
PathFacts Facts()
{
    static const std::set<QString> folders{"/site", "/site/docs", "/site/Kestrix Backup"};
    static const std::set<QString> files{"/site/a.html", "/site/ro.html", "/site/done.html",
                                         "/site/ro-done.html", "/site/Kestrix Backup/a.html"};
    static const std::set<QString> readOnly{"/site/ro.html", "/site/ro-done.html",
                                            "/site/gone.html"};
    static const std::set<QString> backups{"/site/done.html", "/site/ro-done.html",
                                           "/site/gone.html"};
    return {[](const QString& p) { return folders.count(p) > 0; },
            [](const QString& p) { return files.count(p) > 0; },
            [](const QString& p) { return readOnly.count(p) > 0; },
            [](const QString& p) { return backups.count(p) > 0; },
            [](const QString& p) { return p.contains(QStringLiteral("/Kestrix Backup")); }};
}

TEST(CommandAvailabilityTest, FollowsWhatIsSelected)
{
    struct Case
    {
        QStringList selection;
        CommandAvailability expected; // secure, edit, view, restore
    };
    const Case cases[] = {
        {{}, {false, false, false, false}},
        {{"/site/a.html"}, {true, true, true, false}},
        {{"/site/ro.html"}, {false, true, true, false}},
        {{"/site/done.html"}, {true, true, true, true}},
        {{"/site/ro-done.html"}, {false, true, true, true}},
        // A folder can be secured and restored, but not viewed or edited.
        {{"/site/docs"}, {true, false, false, true}},
        // A path that no longer exists allows nothing, whatever is known of it.
        {{"/site/gone.html"}, {false, false, false, false}},
        // Any item that allows a command makes it available.
        {{"/site/ro.html", "/site/done.html"}, {true, true, true, true}},
        {{"/site/gone.html", "/site/docs"}, {true, false, false, true}},
        // A backup folder and its copies are never secured themselves.
        {{"/site/Kestrix Backup"}, {false, false, false, true}},
        {{"/site/Kestrix Backup/a.html"}, {false, true, true, false}},
        {{"/site/Kestrix Backup", "/site/a.html"}, {true, true, true, true}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AvailabilityOf(c.selection, Facts()), c.expected)
            << c.selection.join(u',').toStdString();
}

} // namespace
} // namespace kestrix
