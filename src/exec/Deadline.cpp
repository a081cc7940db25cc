// SPDX-License-Identifier: GPL-3.0-or-later

#include "exec/Deadline.h"

#include "exec/TimeLimits.h"

#include <condition_variable>
#include <mutex>

Deadline::Deadline(double seconds, std::stop_token callerStop)
    : at(detail::deadlineAfter(seconds)),
      passOn(std::move(callerStop), [this] { request(Reason::callerStopped); }),
      timer([this](std::stop_token finished) {
          std::mutex lock;
          std::condition_variable_any wake;
          std::unique_lock guard(lock);
          if (!wake.wait_until(guard, finished, at, [] { return false; }) &&
              !finished.stop_requested())
              request(Reason::passed);
      }) {}

Deadline::~Deadline() = default;

void Deadline::request(Reason reason) {
    Reason none = Reason::none;
    if (why.compare_exchange_strong(none, reason))
        stop.request_stop();
}
