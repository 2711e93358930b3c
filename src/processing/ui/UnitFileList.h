// The scanning dialog: searches a folder for the files that fit the filter
// while showing the folder being searched and the count found, with Cancel.
#pragma once

#include "processing/FolderScan.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <exception>

class QLabel;
class QPushButton;

namespace kestrix {

// A magnifying glass circling over a folder while a search runs.
class TFindFolderAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit TFindFolderAnimation(QWidget* parent = nullptr);
    void Play();
    void Stop();
    bool Active() const { return timer_.isActive(); }
    QSize sizeHint() const override { return QSize(80, 60); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int frame_ = 0;
};

class TFormFileList : public QDialog, private FolderScanView
{
    Q_OBJECT
public:
    explicit TFormFileList(QWidget* parent = nullptr);

    // Appends to the work list every file below the start folder that fits
    // the filter, searching in this dialog. False when the folder does not
    // exist (no dialog is shown) or the user cancelled; what was found
    // before a cancel stays in the list. An invalid mask ends the search and
    // its Failure is thrown once the dialog has closed.
    bool ScanForFiles(const QString& startFolder, const QString& filter, QStringList& workList);

    QLabel* LabelFilePath;
    QLabel* LabelCount;
    TFindFolderAnimation* Animate;
    QPushButton* ButtonCancel;

public slots:
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormPaint();
    void ShowFolder(const QString& folder) override;
    void ShowCount(const QString& text) override;
    bool KeepGoing() override;

    QString startFolder_;
    QString filter_;
    QStringList* workList_ = nullptr;
    bool startArmed_ = false;
    bool cancelled_ = false;
    QElapsedTimer sinceEvents_;
    std::exception_ptr error_;
};

// Gathering as the main window does it: the folder question through the
// remembered answers, the search in the scanning dialog.
class WindowGathering : public GatheringDialogs
{
public:
    explicit WindowGathering(TFormFileList& fileList) : fileList_(fileList) {}
    bool ConfirmFolderProcessing() override;
    bool ScanForFiles(const QString& folder, const QString& filter, QStringList& workList) override;

private:
    TFormFileList& fileList_;
};

} // namespace kestrix
