#pragma once

#include <functional>

// Queues `work` to run on the GUI thread (the application object's thread),
// after everything posted before it. Workers use it for every write to
// view-model state or to a FileItem; they never wait for it to run.
void postToGuiThread(std::function<void()> work);
