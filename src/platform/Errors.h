// The two ways a command can fail: a failure with a message for the user,
// and the user's own cancellation, which unwinds silently.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrix {

// A failure carrying the user-facing message (UTF-8, already translated).
class Failure : public std::runtime_error
{
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// A cancellation by the user: caught by the command, shown to no one.
struct Cancelled
{
};

} // namespace kestrix
