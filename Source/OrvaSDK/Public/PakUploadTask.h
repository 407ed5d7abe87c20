#pragma once

#include "EditorJob.h"
#include "Http.h"
#include "OrvaPakUploadSubsystem.h"
#include "ThreadPool.h"

#include <QPointer>
#include <QString>

class UOrvaPakUploadSubsystem;

// The job of one part, made with its task on the main thread, a child of the subsystem: it runs
// from then until the part was taken (succeeded), failed for good (with the problem), or was
// cancelled. Its progress is the part's bytes sent. A cancel aborts the PUT under way, or keeps
// the next attempt from going; the upload then ends as failed, as for any part that did not go.
class UPakPartJob : public UEditorJob
{
	Q_OBJECT

public:
	UPakPartJob(const FAwsUploader& Record, QObject* Parent);

	qint32 GetPartNumber() const { return PartNumber; }
	QString GetUploadId() const { return UploadId; }

protected:
	void DoStart() override {}
	bool DoCancel() override;

private:
	friend class FPakUploadTask;

	qint32 PartNumber = 0;
	QString UploadId;
	// The PUT under way, if any.
	FHttpRequestPtr Request;
	bool bCancelRequested = false;
};

// Sends one part of a presigned multi-part upload: bytes [(n - 1) x S, n x S) of the file for
// part n and slice size S (the last part is shorter). Run as a self-deleting task on the host's
// pool:
//   (new FAutoDeleteAsyncTask<FPakUploadTask>(Record, Path, Offset, Length, Owner))->StartBackgroundTask();
// The task holds its own copy of its record, so records appended later cannot move what it reads,
// and a copy of the task rides with its request until the answer has been handled.
// The part carries its "Content-MD5" (hashed on the pool thread), so a part damaged on the way is
// refused. A part the store could not take (500, 503, SlowDown, RequestTimeout, a dropped
// connection, a stall) goes again after a jittered exponential pause, as the store's own puts do;
// a refusal, or the last attempt failing, ends the upload with the store's code. Each part is a
// job (UPakPartJob), announced by the subsystem's OnPakPartJobStarted.
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
	// Shared by the copies of the task; null once the subsystem is gone.
	UPakPartJob* GetJob() const { return Job; }

private:
	void SendPart();
	// Sends the part again after a pause when attempts are left; false when none are.
	bool RetryLater(const QString& Why);
	void Fail(const QString& Problem);
	// Ends a part whose cancel was asked for; false when none was.
	bool EndIfCancelled();

	FAwsUploader Record;
	QString FilePath;
	qint64 Offset = 0;
	qint64 Length = 0;
	FWeakContext Owner;
	// The part's MD5, raw; empty when its bytes could not be read.
	QByteArray Md5;
	int Attempts = 0;
	QPointer<UPakPartJob> Job;
};
