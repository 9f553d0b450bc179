#include "bounded_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tvx {

bool callWithin(const std::function<void()> &call, std::chrono::milliseconds limit,
                const std::function<void()> &release)
{
    // Shared with the thread, which may outlive this function when release does not help.
    struct State {
        std::mutex mutex;
        std::condition_variable returned;
        bool done = false;
    };
    const auto state = std::make_shared<State>();
    std::thread worker([state, call] {
        call();
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->done = true;
        state->returned.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->returned.wait_for(lock, limit, [&] { return state->done; })) {
        lock.unlock();
        worker.join();
        return true;
    }
    lock.unlock();
    release();
    lock.lock();
    const bool released = state->returned.wait_for(lock, limit, [&] { return state->done; });
    lock.unlock();
    if (released)
        worker.join();
    else
        worker.detach();
    return false;
}

} // namespace tvx
