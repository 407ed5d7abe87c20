#include "RenderThread.h"

FRenderThread::FRenderThread()
{
	Thread.reset(QThread::create([this] { Run(); }));
	Thread->setObjectName(QStringLiteral("RenderThread"));
	Thread->start();
}

FRenderThread::~FRenderThread()
{
	{
		std::lock_guard Lock(Mutex);
		bStopping = true;
	}
	Wake.notify_all();
	Thread->wait();
}

void FRenderThread::Enqueue(std::unique_ptr<FRenderCommand> Command)
{
	if (!Command)
	{
		return;
	}
	{
		std::lock_guard Lock(Mutex);
		Queue.push_back(std::move(Command));
		++Enqueued;
	}
	Wake.notify_one();
}

void FRenderThread::Flush()
{
	if (IsInRenderingThread())
	{
		// Waiting here would wait for itself.
		return;
	}
	std::unique_lock Lock(Mutex);
	const quint64 Target = Enqueued;
	Done.wait(Lock, [this, Target] { return Executed >= Target; });
}

bool FRenderThread::IsInRenderingThread() const
{
	return QThread::currentThread() == Thread.get();
}

quint64 FRenderThread::GetExecutedCount() const
{
	std::lock_guard Lock(Mutex);
	return Executed;
}

void FRenderThread::Run()
{
	for (;;)
	{
		std::unique_ptr<FRenderCommand> Command;
		{
			std::unique_lock Lock(Mutex);
			Wake.wait(Lock, [this] { return bStopping || !Queue.empty(); });
			if (Queue.empty())
			{
				return;
			}
			Command = std::move(Queue.front());
			Queue.pop_front();
		}
		Command->Execute();
		// Whatever the command owned goes with it, on this thread.
		Command.reset();
		{
			std::lock_guard Lock(Mutex);
			++Executed;
		}
		Done.notify_all();
	}
}
