#pragma once

#include "Http.h"
#include "OrvaPakUploadSubsystem.h"
#include "ThreadPool.h"

#include <QString>

class UOrvaPakUploadSubsystem;

// Sends one part of a presigned multi-part upload: bytes [(n - 1) x S, n x S) of the file for
// part n and slice size S (the last part is shorter). Run as a self-deleting task on the host's
// pool:
//   (new FAutoDeleteAsyncTask<FPakUploadTask>(Record, Path, Offset, Length, Owner))->StartBackgroundTask();
// The task holds its own copy of its record, so records appended later cannot move what it reads,
// and a copy of the task rides with its request until the answer has been handled.
// The part carries its "Content-MD5" (hashed on the pool thread), so a part damaged on the way is
// refused. A part the store could not take (500, 503, SlowDown, RequestTimeout, a dropped
// connection, a stall) goes again after a jittered exponential pause, as the store's own puts do;
// a refusal, or the last attempt failing, ends the upload with the store's code.
class FPakUploadTask : public FNonAbandonableTask
{
public:
	// On the main thread: Owner receives the answer, and nothing happens once it is gone.
	FPakUploadTask(const FAwsUploader& InRecord, const QString& InFilePath, qint64 InOffset, qint64 InLength,
	               UOrvaPakUploadSubsystem* Owner);

	// On a pool thread. The HTTP module lives on the main thread, so the request is made and sent
	// there; the pool thread only hands it over.
	void DoWork();
	// The completion of the part's PUT, on the main thread; Response is null when nothing came back.
	void ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	// A Display line "thread name[thread id] - Message".
	static void Log(const QString& Message);

	const FAwsUploader& GetRecord() const { return Record; }

private:
	void SendPart();
	// Sends the part again after a pause when attempts are left; false when none are.
	bool RetryLater(const QString& Why);
	void Fail(const QString& Problem);

	FAwsUploader Record;
	QString FilePath;
	qint64 Offset = 0;
	qint64 Length = 0;
	FWeakContext Owner;
	// The part's MD5, raw; empty when its bytes could not be read.
	QByteArray Md5;
	int Attempts = 0;
};
