#pragma once

#include <QString>

// Readable thread names for log lines. The main thread is "GameThread"; pool threads name
// themselves when they first run work; any other thread is "Thread" until it is named.
namespace FThreadName
{
// Names the calling thread (also for debuggers and `top -H`, cut to the system's 15 characters).
void SetCurrent(const QString& Name);
QString GetCurrent();
// The system's id of the calling thread (what `ps -L` shows).
qint64 GetCurrentId();
// "Name (id)", for example "PoolThread 2 (48211)".
QString Describe();
} // namespace FThreadName
