#include "support/ui/FormState.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <functional>

namespace kestrix {

namespace {

const QString textSuffix = QStringLiteral(".Text");
const QString checkedSuffix = QStringLiteral(".Checked");
const QString itemIndexSuffix = QStringLiteral(".ItemIndex");

bool IsWindowClass(const QObject* o)
{
    return qobject_cast<const QDialog*>(o) || qobject_cast<const QMainWindow*>(o);
}

// Visits the form's persistable controls in creation order. The inner parts
// of compound controls (a combo box's or spin box's line edit, an item
// view's viewport) and windows of their own are not entered.
void ForEachControl(const QObject* parent, const std::function<void(QWidget&)>& visit)
{
    const QObjectList children = parent->children();
    for (QObject* child : children) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || IsWindowClass(widget))
            continue;
        const QString name = widget->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            visit(*widget);
        if (qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSpinBox*>(widget) ||
            qobject_cast<QAbstractItemView*>(widget))
            continue;
        ForEachControl(widget, visit);
    }
}

int WindowStateCode(const QWidget& window)
{
    const Qt::WindowStates state = window.windowState();
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 2;
    return 0;
}

bool OnSomeScreen(const QRect& bounds)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return true;
    for (const QScreen* screen : screens)
        if (screen->availableGeometry().intersects(bounds))
            return true;
    return false;
}

} // namespace

QString ComponentName(const QWidget& form)
{
    QString name = form.objectName();
    if (name.isEmpty()) {
        name = QString::fromLatin1(form.metaObject()->className());
        const qsizetype colons = name.lastIndexOf(QLatin1String("::"));
        if (colons >= 0)
            name = name.mid(colons + 2);
        if (name.startsWith(QLatin1Char('T')))
            name.remove(0, 1);
    }
    return name;
}

bool SaveFormState(const QWidget& form, SettingsStore& store)
{
    const QString section = ComponentName(form);
    bool ok = true;
    ForEachControl(&form, [&](QWidget& w) {
        const QString name = w.objectName();
        if (auto* edit = qobject_cast<QLineEdit*>(&w))
            ok = store.WriteString(section, name + textSuffix, edit->text()) && ok;
        if (auto* check = qobject_cast<QCheckBox*>(&w))
            ok = store.WriteBool(section, name + checkedSuffix, check->isChecked()) && ok;
        if (auto* combo = qobject_cast<QComboBox*>(&w)) {
            ok = store.WriteInteger(section, name + itemIndexSuffix, combo->currentIndex()) && ok;
            ok = store.WriteString(section, name + textSuffix, combo->currentText()) && ok;
        }
    });
    return ok;
}

void LoadFormState(QWidget& form, const SettingsStore& store)
{
    const QString section = ComponentName(form);
    ForEachControl(&form, [&](QWidget& w) {
        const QString name = w.objectName();
        if (auto* edit = qobject_cast<QLineEdit*>(&w))
            edit->setText(store.ReadString(section, name + textSuffix, edit->text()));
        if (auto* check = qobject_cast<QCheckBox*>(&w))
            check->setChecked(store.ReadBool(section, name + checkedSuffix, check->isChecked()));
        if (auto* combo = qobject_cast<QComboBox*>(&w)) {
            const QString text = store.ReadString(section, name + textSuffix, combo->currentText());
            if (combo->isEditable()) {
                combo->setEditText(text);
            } else {
                const int found = combo->findText(text, Qt::MatchFixedString);
                if (found >= 0)
                    combo->setCurrentIndex(found);
            }
            // The stored index wins when it names an item (or none); an index
            // beyond the list keeps the item the text selected, and an
            // editable combo box keeps its text rather than being emptied.
            const int index =
                store.ReadInteger(section, name + itemIndexSuffix, combo->currentIndex());
            if (index >= -1 && index < combo->count() && index != combo->currentIndex() &&
                !(combo->isEditable() && index < 0))
                combo->setCurrentIndex(index);
        }
    });
}

SettingsStore SnapshotFormState(const QWidget& form)
{
    SettingsStore snapshot = SettingsStore::InMemory();
    SaveFormState(form, snapshot);
    return snapshot;
}

bool SaveWindowPlacement(const QWidget& window, SettingsStore& store)
{
    const QString section = ComponentName(window);
    const int state = WindowStateCode(window);
    // The client area of the normal window in every state, so that a
    // window saved maximised or minimised comes back where it was, not
    // shifted by its frame.
    QRect bounds = window.geometry();
    if (state != 0 && window.normalGeometry().isValid())
        bounds = window.normalGeometry();
    bool ok = store.WriteInteger(section, QStringLiteral("Left"), bounds.x());
    ok = store.WriteInteger(section, QStringLiteral("Top"), bounds.y()) && ok;
    ok = store.WriteInteger(section, QStringLiteral("Width"), bounds.width()) && ok;
    ok = store.WriteInteger(section, QStringLiteral("Height"), bounds.height()) && ok;
    ok = store.WriteInteger(section, QStringLiteral("WindowState"), state) && ok;
    return ok;
}

void LoadWindowPlacement(QWidget& window, const SettingsStore& store)
{
    const QString section = ComponentName(window);
    const int state =
        store.ReadInteger(section, QStringLiteral("WindowState"), WindowStateCode(window));
    Qt::WindowStates flags =
        window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == 1)
        flags |= Qt::WindowMinimized;
    else if (state == 2)
        flags |= Qt::WindowMaximized;
    window.setWindowState(flags);
    if (state == 2)
        return;

    const int width = store.ReadInteger(section, QStringLiteral("Width"), window.width());
    const int height = store.ReadInteger(section, QStringLiteral("Height"), window.height());
    const int top = store.ReadInteger(section, QStringLiteral("Top"), window.y());
    const int left = store.ReadInteger(section, QStringLiteral("Left"), window.x());
    const QSize size = width > 0 && height > 0 ? QSize(width, height) : window.size();
    // The bounds are the client area, as SaveWindowPlacement writes them.
    const QRect bounds(QPoint(left, top), size);
    if (OnSomeScreen(bounds))
        window.setGeometry(bounds);
    else
        window.resize(size);
}

} // namespace kestrix
