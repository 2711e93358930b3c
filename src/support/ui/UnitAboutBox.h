// The about box: title and version, comments, copyright, the maker's home
// page as a link, the physical memory and how much of it is in use.
#pragma once

#include "platform/MemoryStatus.h"
#include "support/VersionInfo.h"

#include <QDialog>
#include <QLocale>

class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;

namespace kestrix {

// Makes a label look like a web link: pure blue, bold, underlined, a hand
// cursor, and the hint "[" + its text + "]".
void StyleAsLink(QLabel* label);

// A byte count in kilobytes, rounded up, with the locale's thousands
// separators and "KB" behind: 536870912 gives "524,288KB" in English.
QString FormatKilobytes(quint64 bytes, const QLocale& locale = QLocale());

// The memory load as shown: the percentage followed by "% Used".
QString MemoryLoadText(int load);

// Paints the application's icon at its top-left corner.
class TPaintBoxIcon : public QWidget
{
    Q_OBJECT
public:
    explicit TPaintBoxIcon(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TFormAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TFormAboutBox(QWidget* parent = nullptr);

    // Fills the title, the version lines, the home page link, the memory
    // lines and the caption.
    void Fill(const VersionInfo& version, const MemoryStatus& memory);

    QTabWidget* PageControl;
    QWidget* TabSheetAbout;
    TPaintBoxIcon* PaintBoxIcon;
    QLabel* PanelTitle;
    QFrame* PanelDetails;
    QLabel* LabelComments;
    QLabel* LabelCopyright;
    QLabel* LabelHomePage;
    QFrame* Bevel;
    QLabel* Label6;
    QLabel* LabelTotalPhys;
    QLabel* Label7;
    QLabel* LabelMemoryLoad;
    QPushButton* ButtonOK;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LabelHomePageClick();
};

// Shows the about box for this program; true when it was closed with OK.
bool ShowAboutBox(QWidget* owner = nullptr);

} // namespace kestrix
