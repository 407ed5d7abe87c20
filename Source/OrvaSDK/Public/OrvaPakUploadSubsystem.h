#pragma once

#include "EditorJob.h"
#include "EditorSubsystem.h"
#include "Http.h"
#include "OrvaServiceJob.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>

// The parameters of one part of a presigned multi-part upload, as the storage endpoint hands them
// out. Etag stays empty until the part's PUT was answered with one.
struct FAwsUploader
{
	Q_GADGET
	Q_PROPERTY(QString Url MEMBER Url)
	Q_PROPERTY(QString Headers MEMBER Headers)
	Q_PROPERTY(qint32 Part_Number MEMBER Part_Number)
	Q_PROPERTY(QString Upload_Id MEMBER Upload_Id)
	Q_PROPERTY(QString Etag MEMBER Etag)

public:
	QString Url;
	QString Headers;
	qint32 Part_Number = 0;
	QString Upload_Id;
	QString Etag;

	bool operator==(const FAwsUploader& Other) const = default;
};

// The presigned multi-part path to storage, apart from the component chain: asks the development
// storage endpoint for one presigned address per slice of a file, sends each slice from a task on
// the host's pool, and completes the upload once every part has its ETag. Its operations are the
// Test ones; nothing else in the plugin calls them. Main thread only, except the tasks' DoWork.
class UOrvaPakUploadSubsystem : public UEditorSubsystem
{
	Q_OBJECT
	Q_PROPERTY(QList<FAwsUploader> AwsUploader READ GetAwsUploader)
	Q_PROPERTY(QString StorageEndpoint READ GetStorageEndpoint)

public:
	// The service's defaults (OrvaDevService --storage-endpoint-enable), overridden by "StorageEndpoint"
	// and "StorageToken" of section "Development" of "OrvaSDK.ini".
	static QString DefaultStorageEndpoint();
	static QString DefaultStorageToken();

	void Initialize(FSubsystemCollection& Collection) override;

	// Asks for the part addresses of InFullFilepath cut in slices of SliceSize MiB; the answer
	// appends them to AwsUploader and starts the tasks. A missing file does nothing.
	Q_INVOKABLE void TestGetUploadAddress(const QString& InFullFilepath, qint32 SliceSize);
	Q_INVOKABLE void TestTask(qint32 TaskCount);

	const QList<FAwsUploader>& GetAwsUploader() const { return AwsUploader; }
	// Why the upload failed in its latest round (the part and the store's code), or empty.
	QString GetUploadProblem(const QString& UploadId) const { return FailedUploads.value(UploadId); }
	bool HasUploadFailed(const QString& UploadId) const { return FailedUploads.contains(UploadId); }
	QString GetStorageEndpoint() const { return StorageEndpoint; }

Q_SIGNALS:
	// One part's PUT was answered (bSuccess: with a 2xx and an ETag) or failed for good (refused,
	// or still failing after its last attempt).
	void OnPakPartUploaded(const QString& UploadId, qint32 PartNumber, bool bSuccess);
	// The endpoint completed the upload (or refused to), or a part failed for good: the object is
	// in the store when true. False comes once per round of parts.
	void OnPakUploadFinished(const QString& UploadId, bool bSuccess);
	// A part's task was made: its job (a UPakPartJob) runs until the part ends, and can cancel it.
	void OnPakPartJobStarted(UEditorJob* Job);

private:
	friend class FPakUploadTask;

	// What an upload's parts are cut from, by upload id.
	struct FUploadSource
	{
		QString FilePath;
		qint64 SliceBytes = 0;
	};

	Q_INVOKABLE QString TestChoseFile();
	Q_INVOKABLE void TestAwsUpload();

	void TestGetUploadAddress_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful,
	                                           const FUploadSource& Source);
	// A task's answer, on the main thread; Problem says why a part failed.
	void PartAnswered(const FAwsUploader& Record, const QString& Etag, bool bSuccess,
	                  const QString& Problem = QString());
	void CompleteUpload(const QString& UploadId);
	// A request to the storage endpoint at Path, carrying the storage token as it is when sent.
	FOrvaServiceJob StorageJob(const QString& Verb, const QString& Path) const;
	void CompleteUpload_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful,
	                                     const QString& UploadId);

	QList<FAwsUploader> AwsUploader;
	QHash<QString, FUploadSource> Sources;
	// Uploads whose completion was sent or succeeded: completed once only.
	QSet<QString> CompletionSent;
	// Uploads a part of which failed for good in this round, with why.
	QHash<QString, QString> FailedUploads;
	QString StorageEndpoint;
	QString StorageToken;
};
