#include "ThreadName.h"

#include "GameThread.h"

#include <QThread>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
thread_local QString CurrentName;
}

namespace FThreadName
{
void SetCurrent(const QString& Name)
{
	CurrentName = Name;
	QThread::currentThread()->setObjectName(Name);
	pthread_setname_np(pthread_self(), Name.toUtf8().left(15).constData());
}

QString GetCurrent()
{
	if (!CurrentName.isEmpty())
	{
		return CurrentName;
	}
	return FGameThread::IsInGameThread() ? QStringLiteral("GameThread") : QStringLiteral("Thread");
}

qint64 GetCurrentId()
{
	return qint64(::syscall(SYS_gettid));
}

QString Describe()
{
	return QStringLiteral("%1 (%2)").arg(GetCurrent()).arg(GetCurrentId());
}
} // namespace FThreadName
