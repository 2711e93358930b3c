#include "shell/ui/FolderNavigator.h"

#include "platform/MessageFormat.h"
#include "support/Translation.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QTimer>
#include <QTreeView>

#include <vector>

namespace kestrix {

namespace {

QString NormalFolder(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

FolderNavigator::FolderNavigator(QTreeView& tree, QFileSystemModel& model, QObject* parent)
    : QObject(parent), tree_(tree), model_(model)
{
    setObjectName(QStringLiteral("FolderNavigator"));
    connect(tree_.selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    Announce(model_.filePath(current));
            });
    connect(&model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& folder) {
        if (scrollTarget_.isEmpty() || !scrollTarget_.startsWith(folder))
            return;
        // Once the view has laid out the rows just read.
        QTimer::singleShot(0, this, [this, target = scrollTarget_] {
            if (tree_.currentIndex() == model_.index(target))
                tree_.scrollTo(tree_.currentIndex());
        });
        if (QFileInfo(scrollTarget_).absolutePath() == folder)
            scrollTarget_.clear();
    });
}

QString FolderNavigator::Location() const
{
    const QModelIndex current = tree_.currentIndex();
    return current.isValid() ? NormalFolder(model_.filePath(current)) : QDir::rootPath();
}

void FolderNavigator::Show(const QString& folder)
{
    QModelIndex index = model_.index(NormalFolder(folder));
    if (!index.isValid())
        index = model_.index(QDir::rootPath());
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        tree_.expand(parent);
    tree_.setCurrentIndex(index);
    ScrollToCurrent();
}

void FolderNavigator::Announce(const QString& folder)
{
    const QString path = NormalFolder(folder);
    if (recording_)
        history_.Add(path);
    emit locationChanged(path);
}

void FolderNavigator::ScrollToCurrent()
{
    // The folder's row has its place only once its parent folder has been
    // read: scrolled to again then.
    const QModelIndex current = tree_.currentIndex();
    tree_.scrollTo(current);
    scrollTarget_ = model_.filePath(current);
}

void FolderNavigator::Back()
{
    GoTo(history_.GoBack(1));
}

void FolderNavigator::Forward()
{
    GoTo(history_.GoForward(1));
}

void FolderNavigator::GoTo(const std::optional<QString>& target)
{
    // Back and Forward move the tree without recording the move.
    if (!target)
        return;
    navigationTarget_ = target;
    WithoutRecording([&] { Show(*target); });
    navigationTarget_.reset();
}

bool FolderNavigator::CanGoUp() const
{
    return Location() != QDir::rootPath();
}

void FolderNavigator::Up()
{
    if (tree_.currentIndex().isValid() && CanGoUp())
        Show(QFileInfo(Location()).absolutePath());
}

QString FolderNavigator::Hint(int offset) const
{
    const std::optional<QString> entry = history_.Peek(offset);
    if (!entry)
        return QString();
    QString name = QFileInfo(*entry).fileName();
    if (name.isEmpty())
        name = model_.fileName(model_.index(*entry));
    if (name.isEmpty())
        return QString();
    return FormatMessage(Tr(offset < 0 ? "Back to %s" : "Forward to %s"), {name});
}

bool FolderNavigator::ShowNodeNamed(const QString& text)
{
    if (text.isEmpty())
        return false;
    std::vector<QModelIndex> nodes{tree_.rootIndex()};
    while (!nodes.empty()) {
        const QModelIndex node = nodes.back();
        nodes.pop_back();
        const int rows = model_.rowCount(node);
        for (int row = rows - 1; row >= 0; --row)
            nodes.push_back(model_.index(row, 0, node));
        if (node != tree_.rootIndex() &&
            model_.fileName(node).compare(text, Qt::CaseInsensitive) == 0) {
            Show(model_.filePath(node));
            return true;
        }
    }
    return false;
}

} // namespace kestrix
