// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <stop_token>
#include <thread>

// A stop that comes by itself when a time limit passes, for work that
// supervises a child on the calling thread and must end it, never abandon it
// (an ffmpeg writing beside a user's file is never left running behind our
// back). Whoever asks first gives the reason: the time limit, the caller's
// own stop, or the supervisor itself (cutShort, for a refusal of the
// child's output). Waits that take token() then end at once, and the child
// with them. Blocking waits on a queue use withHardTimeout or
// withToolTimeout instead, which hand back the caller at the limit.
class Deadline {
public:
    enum class Reason { none, passed, callerStopped, cutShort };

    // The limit counts from now; a negative or NaN limit has passed already.
    explicit Deadline(double seconds, std::stop_token callerStop = {});
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    ~Deadline();

    std::stop_token token() const { return stop.get_token(); }
    Reason reason() const { return why.load(); }
    std::chrono::steady_clock::time_point when() const { return at; }

    // Stops for the supervisor's own reason, unless something stopped first.
    void cutShort() { request(Reason::cutShort); }

private:
    void request(Reason reason);

    const std::chrono::steady_clock::time_point at;
    std::stop_source stop;
    std::atomic<Reason> why = Reason::none;
    std::stop_callback<std::function<void()>> passOn;
    std::jthread timer; // last: it starts after the rest and ends first
};
