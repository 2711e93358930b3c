#include "shell/ui/FolderNavigator.h"

#include "platform/MessageFormat.h"
#include "support/Translation.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

#include <initializer_list>
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
    // The model reads a folder's rows in batches and sorts them later: each
    // change above the folder may push its row out of view, so it is
    // scrolled to again after each, until the user takes over.
    connect(&model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& folder) {
        if (!scrollTarget_.isEmpty() && scrollTarget_.startsWith(folder))
            FollowTarget();
    });
    connect(&model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (!scrollTarget_.isEmpty() && scrollTarget_.startsWith(model_.filePath(parent)))
            FollowTarget();
    });
    connect(&model_, &QAbstractItemModel::layoutChanged, this, [this] {
        if (!scrollTarget_.isEmpty())
            FollowTarget();
    });
    // Whatever the user does with the tree ends the following.
    for (QObject* part : std::initializer_list<QObject*>{
             &tree_, tree_.viewport(), tree_.verticalScrollBar(), tree_.horizontalScrollBar()})
        part->installEventFilter(this);
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
    // The folder's row has its place only once the folders above it have
    // been read and sorted: followed until then.
    const QModelIndex current = tree_.currentIndex();
    tree_.scrollTo(current);
    scrollTarget_ = current.isValid() ? model_.filePath(current) : QString();
}

void FolderNavigator::FollowTarget()
{
    // Once the view has laid out the rows; one scroll for many changes.
    if (scrollPending_)
        return;
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        if (scrollTarget_.isEmpty())
            return;
        // The current folder was moved elsewhere: nothing to follow.
        if (tree_.currentIndex() != model_.index(scrollTarget_)) {
            scrollTarget_.clear();
            return;
        }
        tree_.scrollTo(tree_.currentIndex());
    });
}

bool FolderNavigator::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Wheel:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        scrollTarget_.clear();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
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
