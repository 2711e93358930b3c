#include "shell/ui/FileSelection.h"

#include "shell/ui/FileListModel.h"

#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QListView>

#include <algorithm>

namespace kestrix {

FileSelection::FileSelection(QListView& view, FileListModel& model, QObject* parent)
    : QObject(parent), view_(view), model_(model)
{
    setObjectName(QStringLiteral("FileSelection"));
    connect(view_.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { Sync(); });
    // Items that leave the list (a filter, a refresh, a deleted file) leave
    // the selection with it.
    connect(&model_, &QAbstractItemModel::rowsRemoved, this, [this] { Sync(); });
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] { Sync(); });
    connect(&model_, &QAbstractItemModel::layoutChanged, this, [this] { Sync(); });
}

QStringList FileSelection::InListOrder() const
{
    const QModelIndex root = view_.rootIndex();
    QModelIndexList rows = view_.selectionModel()->selectedIndexes();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex& index : rows)
        if (index.column() == 0 && index.parent() == root)
            paths << model_.FilePath(index);
    return paths;
}

void FileSelection::Sync()
{
    const QStringList shown = InListOrder();
    QStringList paths;
    for (const QString& path : paths_)
        if (shown.contains(path))
            paths << path;
    bool added = false;
    for (const QString& path : shown)
        if (!paths.contains(path)) {
            paths << path;
            added = true;
        }
    paths_ = paths;
    if (added && paths_.size() == 1)
        emit onlyItemSelected(paths_.front());
}

void FileSelection::Clear()
{
    view_.selectionModel()->clear();
    paths_.clear();
}

bool FileSelection::SelectPath(const QString& path)
{
    const QModelIndex root = view_.rootIndex();
    // The model knows a path it was asked for even before its folder has
    // been read in full.
    QModelIndex item = model_.mapFromSource(model_.Files().index(path));
    const int rows = model_.rowCount(root);
    for (int row = 0; !item.isValid() && row < rows; ++row) {
        const QModelIndex listed = model_.index(row, 0, root);
        if (model_.FilePath(listed).compare(path, Qt::CaseInsensitive) == 0)
            item = listed;
    }
    if (!item.isValid() || item.parent() != root)
        return false;
    view_.selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    return true;
}

void FileSelection::TakeSnapshot()
{
    Snapshot = InListOrder();
}

void FileSelection::Reselect()
{
    const QModelIndex root = view_.rootIndex();
    const int rows = model_.rowCount(root);
    QItemSelection selection;
    for (int row = 0; row < rows && !Snapshot.isEmpty(); ++row) {
        const QModelIndex item = model_.index(row, 0, root);
        const QString path = model_.FilePath(item);
        for (qsizetype i = 0; i < Snapshot.size(); ++i)
            if (Snapshot[i].compare(path, Qt::CaseInsensitive) == 0) {
                selection.select(item, item);
                Snapshot.removeAt(i);
                break;
            }
    }
    if (!selection.isEmpty())
        view_.selectionModel()->select(selection, QItemSelectionModel::Select);
    Snapshot.clear();
}

} // namespace kestrix
