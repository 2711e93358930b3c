#include "shell/NavigationHistory.h"

namespace kestrix {

void NavigationHistory::Add(const QString& location)
{
    if (!entries_.isEmpty()) {
        entries_.erase(entries_.begin() + current_ + 1, entries_.end());
        ++current_;
    }
    entries_.append(location);
}

std::optional<QString> NavigationHistory::GoBack(int n)
{
    if (!CanGoBack(n))
        return std::nullopt;
    current_ -= n;
    return entries_[current_];
}

std::optional<QString> NavigationHistory::GoForward(int n)
{
    if (!CanGoForward(n))
        return std::nullopt;
    current_ += n;
    return entries_[current_];
}

std::optional<QString> NavigationHistory::Peek(int offset) const
{
    const qsizetype index = qsizetype(current_) + offset;
    if (index < 0 || index >= entries_.size())
        return std::nullopt;
    return entries_[index];
}

void NavigationHistory::Clear()
{
    entries_.clear();
    current_ = 0;
}

} // namespace kestrix
