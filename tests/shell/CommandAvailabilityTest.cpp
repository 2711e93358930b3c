// The commands a selection allows, without a window.
#include "shell/CommandAvailability.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>

namespace kestrix {
namespace {

using Names = std::set<std::string>;

// A made-up tree: folders, files, and which files are read-only or have a
// backup; everything else is missing.
PathFacts Facts()
{
    static const Names folders{"/site", "/site/docs", "/site/Kestrix Backup"};
    static const Names files{"/site/a.html", "/site/ro.html", "/site/done.html",
                             "/site/ro-done.html", "/site/Kestrix Backup/a.html"};
    static const Names readOnly{"/site/ro.html", "/site/ro-done.html", "/site/gone.html"};
    static const Names backups{"/site/done.html", "/site/ro-done.html", "/site/gone.html"};
    auto in = [](const Names& names) {
        return [&names](const QString& p) { return names.count(p.toStdString()) > 0; };
    };
    return {in(folders), in(files), in(readOnly), in(backups),
            [](const QString& p) { return p.contains(QStringLiteral("/Kestrix Backup")); }};
}

QStringList Paths(std::initializer_list<const char*> names)
{
    QStringList paths;
    for (const char* name : names)
        paths << QString::fromUtf8(name);
    return paths;
}

TEST(CommandAvailabilityTest, FollowsWhatIsSelected)
{
    struct Case
    {
        QStringList selection;
        CommandAvailability expected; // secure, edit, view, restore
    };
    const Case cases[] = {
        {Paths({}), {false, false, false, false}},
        {Paths({"/site/a.html"}), {true, true, true, false}},
        {Paths({"/site/ro.html"}), {false, true, true, false}},
        {Paths({"/site/done.html"}), {true, true, true, true}},
        {Paths({"/site/ro-done.html"}), {false, true, true, true}},
        // A folder can be secured and restored, but not viewed or edited.
        {Paths({"/site/docs"}), {true, false, false, true}},
        // A path that no longer exists allows nothing, whatever is known of it.
        {Paths({"/site/gone.html"}), {false, false, false, false}},
        // Any item that allows a command makes it available.
        {Paths({"/site/ro.html", "/site/done.html"}), {true, true, true, true}},
        {Paths({"/site/gone.html", "/site/docs"}), {true, false, false, true}},
        // A backup folder and its copies are never secured themselves.
        {Paths({"/site/Kestrix Backup"}), {false, false, false, true}},
        {Paths({"/site/Kestrix Backup/a.html"}), {false, true, true, false}},
        {Paths({"/site/Kestrix Backup", "/site/a.html"}), {true, true, true, true}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AvailabilityOf(c.selection, Facts()), c.expected)
            << c.selection.join(u',').toStdString();
}

} // namespace
} // namespace kestrix
