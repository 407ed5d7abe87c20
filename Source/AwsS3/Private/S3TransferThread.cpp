#include "S3TransferThread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace
{
struct FTransferThread
{
	QThread* Thread = nullptr;
	FHttpModule* Module = nullptr;
};

// Touched on the main thread only.
FTransferThread& Transfer()
{
	static FTransferThread Instance;
	return Instance;
}

// With the application: what is still under way is dropped unanswered (as the host's module does
// when it goes), and the thread ends before anything it used is torn down.
void StopTransferThread()
{
	FTransferThread& State = Transfer();
	if (State.Thread == nullptr)
	{
		return;
	}
	QMetaObject::invokeMethod(
	    State.Module, [Module = State.Module] { delete Module; }, Qt::BlockingQueuedConnection);
	State.Thread->quit();
	State.Thread->wait();
	delete State.Thread;
	State = FTransferThread();
}
} // namespace

FHttpModule& AwsS3::TransferModule()
{
	FTransferThread& State = Transfer();
	if (State.Thread == nullptr)
	{
		State.Thread = new QThread();
		State.Thread->setObjectName(QStringLiteral("S3 transfer"));
		State.Module = new FHttpModule();
		State.Module->moveToThread(State.Thread);
		State.Thread->start();
		qAddPostRoutine(StopTransferThread);
	}
	return *State.Module;
}

void AwsS3::RunOnTransferThread(std::function<void()> Work)
{
	QMetaObject::invokeMethod(&TransferModule(), std::move(Work), Qt::QueuedConnection);
}

void AwsS3::RunOnMainThread(std::function<void()> Work)
{
	QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(Work), Qt::QueuedConnection);
}
