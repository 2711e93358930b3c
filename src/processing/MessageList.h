// Where the file operations report problems with single files: the progress
// dialog's message list, or the command line's output.
#pragma once

#include <QString>

namespace kestrix {

class MessageList
{
public:
    virtual ~MessageList() = default;
    // A problem: the file was left alone.
    virtual void AddError(const QString& text) = 0;
    // Something worth knowing that is no fault.
    virtual void AddNote(const QString& text) = 0;
};

} // namespace kestrix
