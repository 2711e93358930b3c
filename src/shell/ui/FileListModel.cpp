#include "shell/ui/FileListModel.h"

#include "support/Translation.h"

#include <QFileSystemModel>
#include <QIcon>
#include <QPainter>

namespace kestrix {

FileListModel::FileListModel(QFileSystemModel& files, MarkFunction mark, QObject* parent)
    : QIdentityProxyModel(parent), files_(files), mark_(std::move(mark))
{
    setSourceModel(&files_);
    connect(&files_, &QAbstractItemModel::rowsInserted, this, &FileListModel::MarkInserted);
}

QString FileListModel::FilePath(const QModelIndex& index) const
{
    return files_.filePath(mapToSource(index));
}

void FileListModel::MarkInserted(const QModelIndex& parent, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QString path = files_.filePath(files_.index(row, 0, parent));
        marks_.insert(path, mark_(path));
    }
}

FileMark FileListModel::Mark(const QModelIndex& index) const
{
    const QString path = FilePath(index);
    auto it = marks_.constFind(path);
    if (it == marks_.constEnd())
        it = marks_.insert(path, mark_(path));
    return *it;
}

void FileListModel::RefreshMarks()
{
    marks_.clear();
    const QModelIndex root = files_.index(files_.rootPath());
    const int rows = files_.rowCount(root);
    if (rows > 0)
        emit dataChanged(mapFromSource(files_.index(0, 0, root)),
                         mapFromSource(files_.index(rows - 1, 0, root)),
                         {Qt::DecorationRole, Qt::ToolTipRole});
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (index.column() != 0 || (role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return QIdentityProxyModel::data(index, role);
    const FileMark mark = Mark(index);
    if (role == Qt::ToolTipRole) {
        const QString name = QIdentityProxyModel::data(index, Qt::DisplayRole).toString();
        return MarkedTip(name, mark);
    }
    const QVariant base = QIdentityProxyModel::data(index, role);
    if (mark == markNone)
        return base;
    // The mark in the lower left corner of the item's icon.
    QPixmap icon = base.value<QIcon>().pixmap(16, 16);
    if (icon.isNull()) {
        icon = QPixmap(16, 16);
        icon.fill(Qt::transparent);
    }
    QPainter painter(&icon);
    painter.drawPixmap(0, 6, MarkImage(mark, 10));
    painter.end();
    return QIcon(icon);
}

QString MarkedTip(const QString& tip, FileMark mark)
{
    if (mark == markSecured)
        return tip + Tr(" - This file has been secured and can be restored");
    if (mark == markReadOnly)
        return tip + Tr(" - This file is read only and cannot be secured");
    return tip;
}

} // namespace kestrix
