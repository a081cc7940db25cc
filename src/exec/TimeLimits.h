// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "exec/SerialQueue.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <variant>

// Time limits for calls that may never return, and the errors that end them.

// The error of a time limit that passed first.
class TimeoutError : public std::exception {
public:
    const char* what() const noexcept override { return "Operation timed out"; }
};

// The error of a wait that ended because the caller was asked to stop.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelled"; }
};

namespace detail {

template <class Value> struct HardTimeoutCall {
    std::mutex lock;
    std::condition_variable_any delivered;
    bool resumed = false;
    std::variant<std::monostate, Value, std::exception_ptr> outcome;
};

std::chrono::steady_clock::time_point deadlineAfter(double seconds);

// Runs the operation and hands its value or exception to the waiting caller,
// unless the caller has already given up on it.
template <class Value, class Invoke> void deliver(HardTimeoutCall<Value>& call, Invoke invoke) {
    decltype(call.outcome) outcome;
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<Invoke&>>) {
            invoke();
            outcome.template emplace<1>();
        } else {
            outcome.template emplace<1>(invoke());
        }
    } catch (...) {
        outcome.template emplace<2>(std::current_exception());
    }
    {
        const std::lock_guard guard(call.lock);
        if (call.resumed)
            return;
        call.resumed = true;
        call.outcome = std::move(outcome);
    }
    call.delivered.notify_all();
}

template <class Value> struct ToolTimeoutCall : HardTimeoutCall<Value> {
    bool started = false;
    std::chrono::steady_clock::time_point deadline;
    std::stop_source stop;
};

} // namespace detail

// "Hard" because nothing can make the caller wait past the limit: the
// operation is abandoned, not stopped, which is all one can do with a
// file-system call stuck in the kernel of a dead network volume.
// Runs `operation` on `queue` and blocks the calling worker until it returns
// or `seconds` have passed since submission, whichever comes first; waiting
// behind other work on the queue counts against the limit. On a time-out the
// caller gets TimeoutError and the operation runs on regardless, keeping the
// queue busy; its outcome is dropped. The operation therefore must own
// everything it touches: capture by value or shared_ptr, never by reference
// to the caller's stack. A stop request on `stop` ends the wait at once with
// CancellationError; the operation is abandoned like one that overran (it may
// watch the same token to end early).
template <class Operation>
auto withHardTimeout(SerialQueue& queue, double seconds, Operation operation,
                     std::stop_token stop = {}) -> std::invoke_result_t<Operation&> {
    using Result = std::invoke_result_t<Operation&>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

    auto call = std::make_shared<detail::HardTimeoutCall<Value>>();
    const auto deadline = detail::deadlineAfter(seconds);
    auto work = std::make_shared<Operation>(std::move(operation));

    queue.submit([call, work] { detail::deliver(*call, [&work] { return (*work)(); }); });

    std::unique_lock guard(call->lock);
    if (!call->delivered.wait_until(guard, stop, deadline, [&call] { return call->resumed; })) {
        call->resumed = true;
        if (stop.stop_requested())
            throw CancellationError();
        throw TimeoutError();
    }
    if (auto* failure = std::get_if<2>(&call->outcome))
        std::rethrow_exception(*failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(std::get<1>(call->outcome));
}

// The same on the file-operation queue.
template <class Operation> auto withHardTimeout(double seconds, Operation operation) {
    return withHardTimeout(fileOpQueue(), seconds, std::move(operation));
}

// For a tool run on a scan queue: `operation` is handed a stop token and must
// end promptly once it is stopped, killing its child. The limit counts from
// the moment the queue starts the operation, so waiting behind other files'
// tools never fails a healthy file; the wait for that start is unbounded,
// which is safe only while every operation on the queue honours its stop.
// When the limit passes, the operation is stopped and the caller gets
// TimeoutError at once; a stop request on `stop` stops it too and gives
// CancellationError at once. The queue is free again as soon as the
// operation has returned.
template <class Operation>
auto withToolTimeout(SerialQueue& queue, double seconds, Operation operation,
                     std::stop_token stop = {})
    -> std::invoke_result_t<Operation&, std::stop_token> {
    using Result = std::invoke_result_t<Operation&, std::stop_token>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

    auto call = std::make_shared<detail::ToolTimeoutCall<Value>>();
    auto work = std::make_shared<Operation>(std::move(operation));

    queue.submit([call, work, seconds] {
        {
            const std::lock_guard guard(call->lock);
            call->started = true;
            call->deadline = detail::deadlineAfter(seconds);
        }
        call->delivered.notify_all();
        detail::deliver(*call, [&call, &work] { return (*work)(call->stop.get_token()); });
    });

    {
        const std::stop_callback passOn(stop, [call] { call->stop.request_stop(); });
        std::unique_lock guard(call->lock);
        const auto settled = [&call] { return call->resumed; };
        if (!call->delivered.wait(guard, stop, [&call] { return call->started; }) ||
            !call->delivered.wait_until(guard, stop, call->deadline, settled)) {
            call->resumed = true;
            guard.unlock();
            call->stop.request_stop();
            if (stop.stop_requested())
                throw CancellationError();
            throw TimeoutError();
        }
    }
    // The operation may have ended because of the stop just before the wait did.
    if (stop.stop_requested())
        throw CancellationError();
    if (auto* failure = std::get_if<2>(&call->outcome))
        std::rethrow_exception(*failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(std::get<1>(call->outcome));
}

// A one-way flag that carries a stop request from whichever thread makes it to
// the thread supervising a child process, which reads it at every poll. A
// std::stop_token could be polled too, but the flag is what a stop callback
// sets, so one supervising loop serves every source of a stop.
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
// It sits beside withHardTimeout on purpose: an ffmpeg writing a user's file
// must never be left running behind our back, so this one never abandons.
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
