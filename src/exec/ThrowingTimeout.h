#pragma once

#include "exec/HardTimeout.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <variant>

// A one-way flag that carries a stop request from whichever thread makes it to
// the thread supervising a child process, which reads it at every poll.
class CancellationFlag {
public:
    void set();
    bool isSet() const;

private:
    mutable std::mutex lock;
    bool cancelled = false;
};

// Races `operation` (run on a thread of its own and handed a stop token)
// against a timer of `seconds`, and against `callerStop`. The first outcome
// decides: the operation's value or its error, TimeoutError, or
// CancellationError. Unlike withHardTimeout, nothing is abandoned: the loser
// is asked to stop and awaited before this returns, so an operation that
// ignores its stop token holds the caller until it ends by itself.
template <class Operation>
auto withThrowingTimeout(double seconds, Operation operation, std::stop_token callerStop = {})
    -> std::invoke_result_t<Operation&, std::stop_token> {
    using Result = std::invoke_result_t<Operation&, std::stop_token>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

    std::mutex lock;
    std::condition_variable_any finished;
    bool done = false;
    std::variant<std::monostate, Value, std::exception_ptr> outcome;

    const auto deadline = detail::deadlineAfter(seconds);
    std::jthread racer([&](std::stop_token stop) {
        decltype(outcome) produced;
        try {
            if constexpr (std::is_void_v<Result>) {
                operation(stop);
                produced.template emplace<1>();
            } else {
                produced.template emplace<1>(operation(stop));
            }
        } catch (...) {
            produced.template emplace<2>(std::current_exception());
        }
        {
            const std::lock_guard guard(lock);
            outcome = std::move(produced);
            done = true;
        }
        finished.notify_all();
    });

    bool operationWon = false;
    bool callerStopped = false;
    {
        std::unique_lock guard(lock);
        operationWon = finished.wait_until(guard, callerStop, deadline, [&done] { return done; });
        callerStopped = callerStop.stop_requested();
    }
    racer.request_stop();
    racer.join();

    if (!operationWon) {
        if (callerStopped)
            throw CancellationError();
        throw TimeoutError();
    }
    if (auto* failure = std::get_if<2>(&outcome))
        std::rethrow_exception(*failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(std::get<1>(outcome));
}
