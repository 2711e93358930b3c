// The folder tree's navigation: the folder it shows, the history behind Back
// and Forward (with their hints), Up, and whether moves are recorded. Tells
// the window when the folder shown changes.
#pragma once

#include "shell/NavigationHistory.h"

#include <QObject>
#include <QString>

#include <optional>

class QFileSystemModel;
class QTreeView;

namespace kestrix {

class FolderNavigator : public QObject
{
    Q_OBJECT
public:
    FolderNavigator(QTreeView& tree, QFileSystemModel& model, QObject* parent);

    // The folder the tree shows (a normalised path; "/" is the root).
    QString Location() const;
    // Makes the tree show a folder (the root when it names none).
    void Show(const QString& folder);
    // Records the folder (while recording is on) and tells that it is shown.
    void Announce(const QString& folder);

    void Back();
    void Forward();
    // The parent of the folder shown.
    void Up();
    bool CanGoBack() const { return history_.CanGoBack(1); }
    bool CanGoForward() const { return history_.CanGoForward(1); }
    bool CanGoUp() const;
    // "Back to %s" / "Forward to %s" with the folder's name; empty without
    // an entry.
    QString Hint(int offset) const;
    NavigationHistory& History() { return history_; }
    const NavigationHistory& History() const { return history_; }

    // Runs a step without recording the moves it makes in the history,
    // recording as before afterwards, also when the step throws.
    template <class Step> void WithoutRecording(Step step)
    {
        struct Restore
        {
            bool& flag;
            bool old;
            ~Restore() { flag = old; }
        } restore{recording_, recording_};
        recording_ = false;
        step();
    }

    // The first node the tree holds now whose caption is the text, letter
    // case aside; shown when found.
    bool ShowNodeNamed(const QString& text);
    // Scrolls the tree to its folder now and again while the folders above
    // it are being read and sorted, until the user moves, scrolls or clicks
    // in the tree.
    void ScrollToCurrent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void locationChanged(const QString& folder);

private:
    void GoTo(const std::optional<QString>& target);
    // Scrolls to the folder followed once the view has laid out its rows.
    void FollowTarget();

    QTreeView& tree_;
    QFileSystemModel& model_;
    NavigationHistory history_;
    std::optional<QString> navigationTarget_;
    bool recording_ = true;
    QString scrollTarget_; // the folder kept in view while rows come in; empty: none
    bool scrollPending_ = false;
};

} // namespace kestrix
