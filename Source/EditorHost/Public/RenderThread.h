#pragma once

#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

// One command for the render thread. Commands are move-only: whatever they carry (a pixel array,
// for one) is moved into the queue and on to the thread, never copied.
class FRenderCommand
{
public:
	virtual ~FRenderCommand() = default;
	virtual const char* GetName() const = 0;
	virtual void Execute() = 0;
};

// The host's render thread: one thread that runs enqueued commands one after the other, in the
// order they were enqueued. It lives as long as the host; commands still queued when it stops are
// run before the thread ends, so nothing enqueued is lost.
class FRenderThread
{
public:
	FRenderThread();
	~FRenderThread();
	FRenderThread(const FRenderThread&) = delete;
	FRenderThread& operator=(const FRenderThread&) = delete;

	void Enqueue(std::unique_ptr<FRenderCommand> Command);

	// ENQUEUE_RENDER_COMMAND: Name labels the command, Lambda is moved into it.
	template <class FLambda>
	void Enqueue(const char* Name, FLambda&& Lambda)
	{
		Enqueue(std::make_unique<TLambdaCommand<std::decay_t<FLambda>>>(Name, std::forward<FLambda>(Lambda)));
	}

	// Blocks until every command enqueued before the call has run (FlushRenderingCommands).
	void Flush();

	bool IsInRenderingThread() const;
	// Commands run so far, for tests and diagnostics.
	quint64 GetExecutedCount() const;

private:
	template <class FLambda>
	class TLambdaCommand final : public FRenderCommand
	{
	public:
		TLambdaCommand(const char* InName, FLambda&& InLambda)
		    : Name(InName)
		    , Lambda(std::move(InLambda))
		{
		}
		TLambdaCommand(const char* InName, const FLambda& InLambda)
		    : Name(InName)
		    , Lambda(InLambda)
		{
		}
		const char* GetName() const override { return Name; }
		void Execute() override { Lambda(); }

	private:
		const char* Name;
		FLambda Lambda;
	};

	void Run();

	mutable std::mutex Mutex;
	std::condition_variable Wake;
	std::condition_variable Done;
	std::deque<std::unique_ptr<FRenderCommand>> Queue;
	quint64 Enqueued = 0;
	quint64 Executed = 0;
	bool bStopping = false;
	std::unique_ptr<QThread> Thread;
};
