#include "GameThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace FGameThread
{
void Post(QObject* Context, std::function<void()> Work)
{
	QMetaObject::invokeMethod(Context, std::move(Work), Qt::QueuedConnection);
}

void PostDelayed(QObject* Context, int DelayMs, std::function<void()> Work)
{
	QTimer::singleShot(DelayMs, Context, std::move(Work));
}

bool IsInGameThread()
{
	QCoreApplication* App = QCoreApplication::instance();
	return App && QThread::currentThread() == App->thread();
}

void RunUntilIdle(int MaxMs)
{
	QElapsedTimer Timer;
	Timer.start();
	do
	{
		QCoreApplication::sendPostedEvents();
		QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
	} while (Timer.elapsed() < 5 && Timer.elapsed() < MaxMs);
	QCoreApplication::sendPostedEvents();
	QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool RunUntil(const std::function<bool()>& Condition, int TimeoutMs)
{
	QDeadlineTimer Deadline(TimeoutMs);
	// A ticking timer wakes the blocking wait so the condition and deadline are re-checked.
	QTimer Wake;
	Wake.setInterval(10);
	Wake.start();
	while (!Condition())
	{
		if (Deadline.hasExpired())
		{
			return Condition();
		}
		QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
		QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	}
	return true;
}
} // namespace FGameThread
