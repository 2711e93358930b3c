// The history behind Back and Forward: locations (normalised folder paths)
// in the order they were shown, and the one shown now.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kestrix {

class NavigationHistory
{
public:
    // Drops every entry after the current one and appends a copy of the
    // location, which becomes current. No bound, no removal of duplicates.
    void Add(const QString& location);
    bool CanGoBack(int n = 1) const { return current_ - n >= 0 && !entries_.isEmpty(); }
    bool CanGoForward(int n = 1) const { return current_ + n < entries_.size(); }
    // Moves current by n and returns that entry; none (and no move) when
    // there is no entry there.
    std::optional<QString> GoBack(int n = 1);
    std::optional<QString> GoForward(int n = 1);
    // The entry at current + offset; none outside the list.
    std::optional<QString> Peek(int offset) const;
    void Clear();

    const QStringList& Entries() const { return entries_; }
    int Current() const { return current_; }

private:
    QStringList entries_; // owned copies
    int current_ = 0;     // index of the entry shown now (0 while empty)
};

} // namespace kestrix
