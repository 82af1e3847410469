#pragma once

#include <functional>

// The main thread owns settings, the user, libraries, items, task lists and windows; workers reach them
// only through these hand-overs.

// Runs fn on the main thread and waits for it; a direct call when already there. An exception thrown by
// fn reaches the caller.
void RunOnMainThread(const std::function<void()>& fn);

// Queues fn to run on the main thread and returns at once.
void QueueOnMainThread(std::function<void()> fn);

bool IsMainThread();
