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

	FAwsUploader Record;
	QString FilePath;
	qint64 Offset = 0;
	qint64 Length = 0;
	FWeakContext Owner;
};
