#pragma once

#include <QElapsedTimer>

#include <functional>

class QThreadPool;

// The asset tools' file work (reading, rewriting and writing thousands of package files) runs on
// worker threads while the main thread waits for it with its events flowing: timers, network
// answers and repaints go on, user input waits, as under the engine's modal slow tasks. The
// callers stay synchronous; what the workers found is applied on the main thread afterwards.
namespace OffMainThread
{
// Runs Body(Index) for every Index below Count on Pool's threads, returns once all have run. Body
// touches nothing of the main thread's (no registry, no loaded objects, no log). OnProgress, when
// given, is called on the calling thread now and then with how many have run.
void ParallelFor(QThreadPool& Pool, qsizetype Count, const std::function<void(qsizetype Index)>& Body,
                 const std::function<void(qsizetype Done)>& OnProgress = {});

// Runs Work on one of Pool's threads and returns once it has run.
void Run(QThreadPool& Pool, const std::function<void()>& Work);
} // namespace OffMainThread

// For long loops that must stay on the main thread (registry updates): Breathe() between items
// processes the pending events (no user input) once every few milliseconds.
class FEventBreather
{
public:
	FEventBreather();
	void Breathe();

private:
	QElapsedTimer Since;
	bool bOnMainThread = false;
};
