#include "processing/FileProgress.h"

namespace kestrix {

void FileProgress::Reset()
{
    if (!messages_.empty()) {
        // Emptied first: Reset runs however the run ended, and the list is
        // shown once, even if showing it fails.
        const std::vector<ProgressMessage> messages = std::move(messages_);
        messages_.clear();
        ShowProblems(messages);
    }
    list_ = nullptr;
    heldList_.clear();
    position_ = 0;
    OnNextItem = nullptr;
    OnNameQuery = nullptr;
    OnCancelQuery = nullptr;
    OnFinished = nullptr;
}

void FileProgress::AddError(const QString& text)
{
    messages_.push_back({text, ProgressMessage::Error});
    MessageAdded(messages_.back());
}

void FileProgress::AddNote(const QString& text)
{
    messages_.push_back({text, ProgressMessage::Note});
    MessageAdded(messages_.back());
}

void FileProgress::Cancel()
{
    if (state_ == fpsCancelled)
        return;
    if (!OnCancelQuery || OnCancelQuery(*this)) {
        resultOk_ = false;
        state_ = fpsCancelled;
    }
}

bool FileProgress::KeepWaiting()
{
    ProcessPendingEvents();
    return state_ != fpsCancelled;
}

void FileProgress::BeginRun(const QStringList& list)
{
    // The run works on its own copy: a handler may change the caller's list.
    heldList_ = list;
    list_ = &heldList_;
    position_ = 0;
    error_ = nullptr;
}

void FileProgress::RunLoop()
{
    resultOk_ = true;
    state_ = fpsRunning;
    try {
        for (int i = 0; i < ItemCount(); ++i) {
            if (state_ == fpsCancelled)
                break;
            if (!ProcessItem(i))
                break;
            ProcessPendingEvents();
        }
    } catch (...) {
        // The run ends here, without OnFinished; the error reaches the
        // caller of Execute once the window has closed.
        error_ = std::current_exception();
        state_ = fpsIdle;
        resultOk_ = false;
        RunFinished();
        return;
    }
    if (state_ == fpsRunning)
        state_ = fpsIdle;
    if (OnFinished)
        OnFinished(*this);
    RunFinished();
}

bool FileProgress::ProcessItem(int index)
{
    if (state_ == fpsCancelled || index < 0 || !list_ || index >= ItemCount())
        return false;
    position_ = index;
    const QString& item = (*list_)[index];
    ShowItem(index, OnNameQuery ? OnNameQuery(*this, item) : item);
    return OnNextItem ? OnNextItem(*this, item) : false;
}

bool FileProgress::EndRun()
{
    list_ = nullptr;
    heldList_.clear();
    if (error_) {
        std::exception_ptr error = error_;
        error_ = nullptr;
        std::rethrow_exception(error);
    }
    return resultOk_;
}

} // namespace kestrix
