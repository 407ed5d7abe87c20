#pragma once

#include <QObject>

#include <functional>

// The main thread is the game thread: everything the plugin owns lives there.
namespace FGameThread
{
// Runs Work on the main thread's event loop, after the current event. It is dropped when Context
// is destroyed first.
void Post(QObject* Context, std::function<void()> Work);

// Runs Work on the main thread after DelayMs milliseconds (dropped with Context).
void PostDelayed(QObject* Context, int DelayMs, std::function<void()> Work);

bool IsInGameThread();

// Processes events until nothing is pending (or MaxMs passed).
void RunUntilIdle(int MaxMs = 1000);

// Processes events until Condition holds or TimeoutMs passed; returns whether it holds.
bool RunUntil(const std::function<bool()>& Condition, int TimeoutMs);
} // namespace FGameThread
