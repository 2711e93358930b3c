#include "support/ui/TranslateComponent.h"

#include "support/Translation.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDockWidget>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <functional>
#include <unordered_set>

namespace kestrix {

namespace {

// A window class of its own: dialogs, main windows and parentless windows;
// menus, docks and tool bars floating as windows belong to their window.
bool IsForm(const QObject* object)
{
    const auto* w = qobject_cast<const QWidget*>(object);
    if (!w || qobject_cast<const QMenu*>(w) || qobject_cast<const QDockWidget*>(w) ||
        qobject_cast<const QToolBar*>(w))
        return false;
    return qobject_cast<const QDialog*>(w) || qobject_cast<const QMainWindow*>(w) ||
           (w->isWindow() && !w->parentWidget());
}

class ComponentTranslator
{
public:
    void Translate(QObject* component)
    {
        const std::string section = TranslationSection(component);
        auto tr = [&](const QString& text, const std::function<void(const QString&)>& set) {
            if (text.isEmpty())
                return;
            const QString translated = TranslateQString(text, section);
            if (translated != text)
                set(translated);
        };
        bool ownChildren = true;

        if (component == QCoreApplication::instance()) {
            tr(ApplicationTitle(), [](const QString& t) { SetApplicationTitle(t); });
        } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
            const int index = combo->currentIndex();
            const QString editText = combo->isEditable() ? combo->currentText() : QString();
            TranslateWidgetTips(combo, tr);
            for (int i = 0; i < combo->count(); ++i)
                tr(combo->itemText(i), [&](const QString& t) { combo->setItemText(i, t); });
            combo->setCurrentIndex(index);
            if (combo->isEditable() && index < 0)
                tr(editText, [&](const QString& t) { combo->setEditText(t); });
            // The line edit and the pop-up are the combo box's own parts.
            ownChildren = false;
        } else if (auto* tabs = qobject_cast<QTabWidget*>(component)) {
            TranslateWidgetTips(tabs, tr);
            for (int i = 0; i < tabs->count(); ++i) {
                tr(tabs->tabText(i), [&](const QString& t) { tabs->setTabText(i, t); });
                tr(tabs->tabToolTip(i), [&](const QString& t) { tabs->setTabToolTip(i, t); });
            }
        } else if (auto* bar = qobject_cast<QTabBar*>(component)) {
            TranslateWidgetTips(bar, tr);
            // A tab widget's own bar was translated with the tab widget.
            if (!qobject_cast<QTabWidget*>(bar->parent()))
                for (int i = 0; i < bar->count(); ++i) {
                    tr(bar->tabText(i), [&](const QString& t) { bar->setTabText(i, t); });
                    tr(bar->tabToolTip(i), [&](const QString& t) { bar->setTabToolTip(i, t); });
                }
        } else if (auto* view = qobject_cast<QAbstractItemView*>(component)) {
            TranslateWidgetTips(view, tr);
            // A header view shows its view's column titles: nothing of its own.
            QAbstractItemModel* model = view->model();
            if (!qobject_cast<QHeaderView*>(view) && model && models_.insert(model).second)
                for (int col = 0; col < model->columnCount(); ++col)
                    tr(model->headerData(col, Qt::Horizontal).toString(),
                       [&](const QString& t) { model->setHeaderData(col, Qt::Horizontal, t); });
            ownChildren = false;
        } else if (auto* menu = qobject_cast<QMenu*>(component)) {
            tr(menu->title(), [&](const QString& t) { menu->setTitle(t); });
            TranslateWidgetTips(menu, tr);
            skip_.insert(menu->menuAction());
        } else if (auto* widget = qobject_cast<QWidget*>(component)) {
            TranslateWidget(widget, tr);
        } else if (auto* action = qobject_cast<QAction*>(component)) {
            TranslateAction(action, tr);
        }

        // A spin box's line edit is its own part.
        if (qobject_cast<QAbstractSpinBox*>(component))
            ownChildren = false;
        if (auto* toolBar = qobject_cast<QToolBar*>(component))
            skip_.insert(toolBar->toggleViewAction());
        if (auto* dock = qobject_cast<QDockWidget*>(component))
            skip_.insert(dock->toggleViewAction());
        if (!ownChildren)
            return;
        const QObjectList children = component->children();
        for (QObject* child : children)
            if (!skip_.count(child))
                Translate(child);
    }

private:
    using Tr = std::function<void(const QString&, const std::function<void(const QString&)>&)>;

    static void TranslateWidgetTips(QWidget* w, const Tr& tr)
    {
        tr(w->windowTitle(), [&](const QString& t) { w->setWindowTitle(t); });
        tr(w->toolTip(), [&](const QString& t) { w->setToolTip(t); });
        tr(w->statusTip(), [&](const QString& t) { w->setStatusTip(t); });
    }

    static void TranslateWidget(QWidget* w, const Tr& tr)
    {
        TranslateWidgetTips(w, tr);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            tr(label->text(), [&](const QString& t) { label->setText(t); });
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            // A tool button showing an action follows the action.
            auto* tool = qobject_cast<QToolButton*>(w);
            if (!tool || !tool->defaultAction())
                tr(button->text(), [&](const QString& t) { button->setText(t); });
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            tr(group->title(), [&](const QString& t) { group->setTitle(t); });
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            tr(edit->text(), [&](const QString& t) { edit->setText(t); });
            tr(edit->placeholderText(), [&](const QString& t) { edit->setPlaceholderText(t); });
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
            TranslateLines(plain->toPlainText(), tr,
                           [&](const QString& t) { plain->setPlainText(t); });
        } else if (auto* rich = qobject_cast<QTextEdit*>(w)) {
            TranslateLines(rich->toPlainText(), tr,
                           [&](const QString& t) { rich->setPlainText(t); });
        }
    }

    // A multi-line text is one key, its lines joined by CR LF.
    static void TranslateLines(const QString& text, const Tr& tr,
                               const std::function<void(const QString&)>& set)
    {
        QString joined = text;
        joined.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        tr(joined, [&](const QString& t) {
            QString lines = t;
            lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            set(lines);
        });
    }

    static void TranslateAction(QAction* a, const Tr& tr)
    {
        // Without a tip or icon text of its own, an action derives them from
        // its text; those follow the text and are not set separately.
        const QString tip = a->toolTip();
        const QString iconText = a->iconText();
        tr(a->text(), [&](const QString& t) { a->setText(t); });
        if (a->toolTip() == tip)
            tr(tip, [&](const QString& t) { a->setToolTip(t); });
        if (a->iconText() == iconText)
            tr(iconText, [&](const QString& t) { a->setIconText(t); });
        tr(a->statusTip(), [&](const QString& t) { a->setStatusTip(t); });
    }

    std::unordered_set<const QAbstractItemModel*> models_;
    std::unordered_set<const QObject*> skip_;
};

} // namespace

std::string TranslationSection(const QObject* component)
{
    for (const QObject* o = component; o; o = o->parent())
        if (IsForm(o)) {
            // The class name without its namespace: "kestrix::TFormKestrix"
            // is the section "TFormKestrix".
            const std::string_view name = o->metaObject()->className();
            const size_t colons = name.rfind("::");
            return std::string(colons == std::string_view::npos ? name : name.substr(colons + 2));
        }
    return std::string(applicationSection);
}

void TranslateComponent(QObject* component)
{
    if (!component)
        return;
    ComponentTranslator().Translate(component);
}

void TranslateApplication()
{
    static bool translated = false;
    if (translated)
        return;
    translated = true;
    if (QCoreApplication::instance())
        TranslateComponent(QCoreApplication::instance());
    else
        SetApplicationTitle(TranslateQString(ApplicationTitle(), applicationSection));
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* w : windows)
            if (!w->parentWidget())
                TranslateComponent(w);
    }
}

} // namespace kestrix
