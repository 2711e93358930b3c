// A run over a work list, one item at a time, with four handlers called in a
// fixed order and a list of messages about single items. The logic of the
// progress dialog, kept apart from its window so that it runs without one.
#pragma once

#include "processing/MessageList.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <vector>

namespace kestrix {

enum TFormFileProgressState { fpsIdle, fpsRunning, fpsCancelled };

class FileProgress;

// Works on one item: true lets the run go on, false ends it.
using TNextItemEvent = std::function<bool(FileProgress& sender, const QString& item)>;
// The text shown for an item.
using TNameQueryEvent = std::function<QString(FileProgress& sender, const QString& item)>;
// Asked when the user presses Cancel during a run: true confirms.
using TCancelQueryEvent = std::function<bool(FileProgress& sender)>;
// Told once when the run loop ends.
using TNotifyEvent = std::function<void(FileProgress& sender)>;

// A row of the message list: kind 0 is an error, 1 a note.
struct ProgressMessage
{
    enum Kind { Error = 0, Note = 1 };
    QString text;
    Kind kind = Error;
    bool operator==(const ProgressMessage&) const = default;
};

class FileProgress : public MessageList
{
public:
    TNextItemEvent OnNextItem;
    TNameQueryEvent OnNameQuery;
    TCancelQueryEvent OnCancelQuery;
    TNotifyEvent OnFinished;

    virtual void SetCaption(const QString& caption) = 0;

    // Walks the list with the handlers. True when the run ended with OK
    // (all items done, or a handler ended it), false when it was cancelled.
    // An error a handler throws ends the run at once (no later item,
    // OnFinished not called) and is thrown again from here once the run
    // has closed.
    virtual bool Execute(const QStringList& list) = 0;

    // Shows the messages of the run that ends, if there are any (see
    // ShowProblems), then empties the message list, drops the list and
    // removes the handlers.
    virtual void Reset();

    void AddError(const QString& text) override;
    void AddNote(const QString& text) override;
    const std::vector<ProgressMessage>& Messages() const { return messages_; }

    // The items of the current run; 0 when no list is held.
    int ItemCount() const { return list_ ? int(list_->size()) : 0; }
    TFormFileProgressState State() const { return state_; }
    // The index of the item being worked on (or last worked on).
    int Position() const { return position_; }

    // The Cancel command: once per run, after OnCancelQuery (if set)
    // confirmed, the run stops before its next item.
    void Cancel();
    // For a handler that waits (for a folder another run holds): lets
    // pending events be handled, so that a click on Cancel is noticed; false
    // once the run is cancelled.
    bool KeepWaiting();
    // Whether a request to close the window may be granted: not while a run
    // is going on, unless it has been cancelled.
    bool CloseAllowed() const { return state_ != fpsRunning; }

protected:
    // Holds the list for a run; the window then shows itself.
    void BeginRun(const QStringList& list);
    // The run loop: every item in order until the end, a handler's false or
    // a confirmed Cancel; then OnFinished. Catches a handler's error into
    // PendingError().
    void RunLoop();
    // Drops the list; rethrows a handler's error. Returns the result.
    bool EndRun();

    bool ResultOk() const { return resultOk_; }

    // What the window does: show an item's text at once, let pending events
    // be handled, show a new message row, and close when the loop ended.
    virtual void ShowItem(int index, const QString& text) = 0;
    virtual void ProcessPendingEvents() = 0;
    virtual void MessageAdded(const ProgressMessage& message) { Q_UNUSED(message); }
    // Tells the user of the problems a run listed, in order, once the run
    // is over: the list itself stays hidden during the run, and a file that
    // could not be secured or restored must not pass for done.
    virtual void ShowProblems(const std::vector<ProgressMessage>& messages) { Q_UNUSED(messages); }
    virtual void RunFinished() = 0;

private:
    bool ProcessItem(int index);

    const QStringList* list_ = nullptr;
    QStringList heldList_;
    TFormFileProgressState state_ = fpsIdle;
    bool resultOk_ = true;
    int position_ = 0;
    std::vector<ProgressMessage> messages_;
    std::exception_ptr error_;
};

} // namespace kestrix
