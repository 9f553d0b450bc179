#pragma once

#include <chrono>
#include <functional>

namespace tvx {

// Runs call on a thread of its own and waits at most limit for it to return. When it has not,
// release is called (it should make call return: a device call that waits for an event is
// ended so) and call gets limit once more; past that its thread is left to itself, and what
// call works on must outlive it. True when call returned within the first limit.
//
// For system calls that may wait for ever on a device whose driver never answers: the caller
// goes on either way.
bool callWithin(const std::function<void()> &call, std::chrono::milliseconds limit,
                const std::function<void()> &release);

} // namespace tvx
