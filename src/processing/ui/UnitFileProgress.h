// The progress dialog: walks a work list one item at a time while showing
// the item being worked on, lets the user stop the walk, and keeps a list of
// messages about single items. The run itself is FileProgress's; this is
// its window.
#pragma once

#include "processing/FileProgress.h"

#include <QDialog>
#include <QIcon>

class QAction;
class QCheckBox;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace kestrix {

// Bold text on a band that shades from the button-shadow colour to the
// button-face colour in 32 steps.
class TGradientLabel : public QWidget
{
    Q_OBJECT
public:
    explicit TGradientLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    QSize sizeHint() const override;
    static constexpr int steps = 32;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

class TFormFileProgress : public QDialog, public FileProgress
{
    Q_OBJECT
public:
    explicit TFormFileProgress(QWidget* parent = nullptr);

    void SetCaption(const QString& caption) override;
    // Shows the dialog modally; the run starts once it has been painted and
    // the dialog closes by itself when the run has ended.
    bool Execute(const QStringList& list) override;
    void Reset() override;

    // Whether the message list is visible (and "View Messages" checked).
    bool ShowMessages() const;
    void SetShowMessages(bool on);

    // The window that owns the box listing a run's problems.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    // The state image of error rows: a red cross.
    const QIcon& StateImage() const { return stateImage_; }

    TGradientLabel* lblMessage;
    QProgressBar* pbProgress;
    QPushButton* btCancel;
    QCheckBox* cbShowMessages;
    QTreeWidget* lvMessages;
    QAction* actCancel;
    QAction* actViewMessages;

public slots:
    // Esc: the Cancel command while a run goes on, else an ordinary close.
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    void ShowItem(int index, const QString& text) override;
    void ProcessPendingEvents() override;
    void MessageAdded(const ProgressMessage& message) override;
    void RunFinished() override;
    void ShowProblems(const std::vector<ProgressMessage>& messages) override;

private:
    void actCancelExecute();
    void FormPaint();

    QIcon stateImage_;
    bool startArmed_ = false;
    QWidget* owner_ = nullptr;
};

} // namespace kestrix
