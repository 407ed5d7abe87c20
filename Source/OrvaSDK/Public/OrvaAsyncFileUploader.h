#pragma once

#include "AwsS3Types.h"
#include "EditorJob.h"
#include "Http.h"
#include "Notifications.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QJsonObject;
class UAwsS3ClientObject;
class US3PutObjectOrva;
class UOrvaSDKSubsystem;

// Uploads one registered component pak to the object store and tells the service it is done:
// component state, temporary credentials, the put with a progress notification, completion.
// The uploader is a job: it owns itself from UploadFile until it ends, when it broadcasts
// OnUploadCompleted exactly once, finishes as a job (with the cause when it failed) and releases
// itself. Its progress is the bytes of the pak put so far. It is a child of the subsystem that
// started it, so it never outlives that subsystem. Main thread only.
class UOrvaAsyncFileUploader : public UEditorJob
{
	Q_OBJECT

public:
	// Sdk is the subsystem whose service address and access token the uploader uses (the engine
	// finds it by lookup; here the caller hands it over). CheckCode is the check code of the build
	// that produced the pak; the completion carries it, whatever is selected by then. The first
	// request is under way when this returns; its answer comes on a later turn of the event loop.
	static UOrvaAsyncFileUploader* UploadFile(UOrvaSDKSubsystem* Sdk, const QString& TargetFilePath,
	                                          const QString& ComponentId, bool bIsSandbox, const QString& CheckCode);
	// As above, with the check code the subsystem gives now (GetCheckCode), taken at the start.
	static UOrvaAsyncFileUploader* UploadFile(UOrvaSDKSubsystem* Sdk, const QString& TargetFilePath,
	                                          const QString& ComponentId, bool bIsSandbox);

	// The most bytes an upload for Sdk may have: 2 GiB, or [AwsS3] MaxUploadBytes of its settings
	// when set (a value that is no positive whole number keeps 2 GiB, with a warning).
	static qint64 UploadLimitFor(const UOrvaSDKSubsystem* Sdk);

	QString GetComponentId() const { return ComponentId; }
	QString GetBucketName() const { return BucketName; }
	QString GetKeyUrl() const { return KeyUrl; }
	QString GetTargetFilePath() const { return TargetFilePath; }
	QString GetCheckCode() const { return CheckCode; }

Q_SIGNALS:
	// The uploader's end: true when the object is stored and the service confirmed the completion
	// (or already had it), false otherwise. Broadcast once.
	void OnUploadCompleted(bool bSuccess);

protected:
	void DoStart() override;
	// Stops the upload wherever it is: the store drops what it holds of it, the notification shows
	// the cancelled step, and the uploader ends with false.
	bool DoCancel() override;

private:
	UOrvaAsyncFileUploader() = default;
	~UOrvaAsyncFileUploader() override;

	Q_INVOKABLE void Aws3SPutObjectCallback(bool bSuccess, const FPutObjectResult& Result, ES3Errors Error,
	                                        const QString& ErrorMessage);
	Q_INVOKABLE void CompleteUpload();
	Q_INVOKABLE void ExcuteUpload(UAwsS3ClientObject* Client);
	Q_INVOKABLE void GetComponentInfo();
	Q_INVOKABLE void IssueComponentSts();
	Q_INVOKABLE void OnUploadPercents(const QString& UploadFilename, int Percentage);

	void GetComponentInfo_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	void IssueComponentSts_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	// Fresh credentials for a put whose credentials expired: the same request as the first ones.
	void RenewComponentSts();
	void RenewComponentSts_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	void CompleteUpload_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);

	// The put's item, from its start to the upload's end; once only.
	void ShowUploadingNotification();
	// Reads the "sts" object of a credentials answer; false when it holds no usable key.
	static bool ReadCredentials(const QJsonObject& Sts, FAwsCredentials& OutCredentials, QString& OutRegion);
	// The most bytes a pak may have: 2 GiB, or [AwsS3] MaxUploadBytes of the settings when set.
	qint64 MaxUploadBytes() const;
	// Ends a completion the service did not confirm: the failure step, the cause in the log.
	void FailCompletion(const QString& Cause);

	// A service job of the subsystem's (its address, headers, token, deadline, answer bound), its
	// answer bound to Handler.
	using FHandler = void (UOrvaAsyncFileUploader::*)(FHttpRequestPtr, FHttpResponsePtr, bool);
	void Send(const QString& Verb, const QString& RelativePath, const QString& Body, bool bAccept, FHandler Handler);
	// Broadcasts the end once and releases the uploader; Cause says why it failed.
	void End(bool bSuccess, const QString& Cause = QString());
	void DestroyClient();
	QString FileLabel() const;

	QPointer<UOrvaSDKSubsystem> Sdk;
	QString BucketName;
	QString TargetFilePath;
	QString KeyUrl;
	QString ComponentId;
	bool bIsSandbox = false;
	// Fixed when the upload starts.
	QString CheckCode;
	QPointer<UAwsS3ClientObject> CurrAwsS3Client;
	QPointer<US3PutObjectOrva> CurrentPut;
	// The body of the credentials request, sent again for fresh ones.
	QString StsRequestBody;
	FNotificationItemPtr UploadNotification;

	FAwsCredentials Credentials;
	QString Region;
	qint64 FileSize = -1;
	// What the put said last: the file it sends and how far it is (-1 before it said anything).
	QString PutLabel;
	int PutPercent = -1;
	bool bEnded = false;
	bool bCancelled = false;
};
