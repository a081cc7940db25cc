// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "exec/SerialQueue.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stop_token>
#include <type_traits>
#include <variant>

// Time limits for calls that may never return, and the errors that end them.

// Every fixed limit, in seconds. Generous: each bounds a call that answers in
// milliseconds on a healthy disk and never on a volume that stopped answering.
// A quick file-system query: existence, size, open and lock, a small file's
// chunks, a removal.
constexpr double fileQueryLimitSeconds = 10;
// Removing the diagnostics file of an ffmpeg that could not start.
constexpr double logRemovalLimitSeconds = 5;
// ffprobe or the analyser describing one file before it is converted.
constexpr double formatProbeLimitSeconds = 10;
// ffmpeg listing its encoders, and a tool naming its version.
constexpr double toolListingLimitSeconds = 10;
// The desktop's trash answering one request.
constexpr double trashLimitSeconds = 10;
// One write or read of the run journal.
constexpr double journalLimitSeconds = 10;
// A killed child gets this long to be reaped before it counts as stuck in the
// kernel (uninterruptible sleep, typically on a dying disk).
constexpr double killGraceSeconds = 3;

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
