// A progress run without a window: the run loop starts at once, and a hook
// stands for the events a window would handle between items (a click on
// Cancel, for one).
#pragma once

#include "processing/FileProgress.h"

#include <functional>

namespace kestrix {

class HeadlessProgress : public FileProgress
{
public:
    QString caption;
    QStringList shown;
    // Called where the window lets pending events be handled, with the index
    // of the item just done.
    std::function<void(HeadlessProgress&, int)> betweenItems;
    int runsFinished = 0;
    // Every message added, kept past Reset: "error: text" or "note: text".
    QStringList messageLog;

    void SetCaption(const QString& text) override { caption = text; }
    bool Execute(const QStringList& list) override
    {
        BeginRun(list);
        RunLoop();
        return EndRun();
    }

protected:
    void ShowItem(int, const QString& text) override { shown.append(text); }
    void ProcessPendingEvents() override
    {
        if (betweenItems)
            betweenItems(*this, Position());
    }
    void RunFinished() override { ++runsFinished; }
    void MessageAdded(const ProgressMessage& message) override
    {
        messageLog << (message.kind == ProgressMessage::Error ? QStringLiteral("error: ")
                                                              : QStringLiteral("note: ")) +
                          message.text;
    }
};

} // namespace kestrix
