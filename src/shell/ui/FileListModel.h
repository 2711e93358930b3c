// The file list's model: the file system with the state marks (secured,
// read-only) drawn over the items' icons and named in their tips.
#pragma once

#include "shell/ui/Images.h"

#include <QHash>
#include <QIdentityProxyModel>

#include <functional>

class QFileSystemModel;

namespace kestrix {

class FileListModel : public QIdentityProxyModel
{
    Q_OBJECT
public:
    // How an item is marked; asked once per item as the list inserts it.
    using MarkFunction = std::function<FileMark(const QString& path)>;

    FileListModel(QFileSystemModel& files, MarkFunction mark, QObject* parent = nullptr);

    QFileSystemModel& Files() const { return files_; }
    QString FilePath(const QModelIndex& index) const;
    FileMark Mark(const QModelIndex& index) const;
    // Forgets every mark: each item is marked again as it is shown.
    void RefreshMarks();

    QVariant data(const QModelIndex& index, int role) const override;

private:
    void MarkInserted(const QModelIndex& parent, int first, int last);

    QFileSystemModel& files_;
    MarkFunction mark_;
    mutable QHash<QString, FileMark> marks_; // by full path
};

// The tip of a marked item: the text, and the mark's sentence (translated).
QString MarkedTip(const QString& tip, FileMark mark);

} // namespace kestrix
