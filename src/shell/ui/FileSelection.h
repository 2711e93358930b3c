// The file list's selection: the items the list shows selected in the folder
// it shows, in the order the user selected them, kept in step with the view;
// and the snapshot that selects the same items again after a refresh.
#pragma once

#include <QObject>
#include <QStringList>

class QListView;

namespace kestrix {

class FileListModel;

class FileSelection : public QObject
{
    Q_OBJECT
public:
    FileSelection(QListView& view, FileListModel& model, QObject* parent);

    // The selected paths of the folder shown, in the order they were
    // selected. Never a path of another folder, nor one the list no longer
    // shows.
    const QStringList& Paths() const { return paths_; }
    // The selected paths of the folder shown, in list order.
    QStringList InListOrder() const;
    // Deselects everything (the list is about to show another folder).
    void Clear();
    // Selects the first item of the folder shown whose path equals the
    // text without regard to case; false when there is none.
    bool SelectPath(const QString& path);

    // Paths to select again after the list was refreshed.
    QStringList Snapshot;
    // Takes the selected paths, in list order, as the snapshot.
    void TakeSnapshot();
    // Selects the listed items whose paths equal one of the snapshot
    // (without regard to case), then empties the snapshot.
    void Reselect();

signals:
    // An item was selected and is the only one selected.
    void onlyItemSelected(const QString& path);

private:
    // Brings the paths in line with the view: those no longer selected
    // leave, newly selected ones join at the end in list order.
    void Sync();

    QListView& view_;
    FileListModel& model_;
    QStringList paths_;
};

} // namespace kestrix
