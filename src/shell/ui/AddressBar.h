// The address bar's panel: the label "Address", the address box with the
// icon of the item it names and completion from the file system, and Go at
// the right edge. Go, Return and keypad Enter in the box (also while its
// completion list is open) ask for the text to be gone to.
#pragma once

#include <QStringList>
#include <QWidget>

class QAction;
class QComboBox;
class QFileIconProvider;
class QLabel;
class QToolButton;

namespace kestrix {

class AddressBar : public QWidget
{
    Q_OBJECT
public:
    AddressBar(const QFileIconProvider& icons, QWidget* parent);

    QString Text() const;
    // Shows a path (or an address) in the box, with its item's icon.
    void SetText(const QString& text);
    // The folders the box's list offers, latest first.
    void SetRecentFolders(const QStringList& folders);

signals:
    void goRequested(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowIconOf(const QString& text);
    void Go();

    const QFileIconProvider& icons_;
    QLabel* label_ = nullptr;
    QComboBox* box_ = nullptr;
    QToolButton* go_ = nullptr;
    QAction* icon_ = nullptr;
};

} // namespace kestrix
