#pragma once

#include "AwsS3Client.h"
#include "AwsS3Types.h"
#include "Http.h"

#include <QCryptographicHash>
#include <QObject>
#include <QPointer>

#include <memory>

// One object PUT from a local file: the body streams from disk as it is sent, with
// "UNSIGNED-PAYLOAD" in the signature. The file's MD5 is computed on a worker thread while the body
// streams (no pass over the file before the first byte goes) and compared with the ETag of the
// answer (the object's MD5 for a single PUT stored without KMS). A mismatch is a failure. The action owns itself from
// PutObject until its completion has been broadcast. Main thread only; its events arrive on the main thread.
class US3PutObjectOrva : public QObject
{
	Q_OBJECT

public:
	// The largest object one PUT may store.
	static constexpr qint64 MaxSinglePutBytes = qint64(5) * 1024 * 1024 * 1024;

	// WorldContextObject is accepted for the engine's signature and not used.
	static US3PutObjectOrva* PutObject(QObject* WorldContextObject, UAwsS3ClientObject* Client,
	                                   const FPutObjectRequest& Request);

	// Starts the transfer. Every outcome, also a refusal before anything is sent, arrives as
	// Completed, later on the main thread, exactly once.
	Q_INVOKABLE void Activate();
	// Gives up a running transfer: Completed(false, ..., Cancelled, ...).
	Q_INVOKABLE void Cancel();

	const FPutObjectRequest& GetRequest() const { return Request; }

Q_SIGNALS:
	// The completion event: success, the result (also on failure, as far as it got), the error
	// kind (None on success) and a message (the store's code and message on a store error).
	void Completed(bool bSuccess, const FPutObjectResult& Result, ES3Errors Error, const QString& ErrorMessage);
	// The progress event: the local file and the whole percent sent, each percent at most once,
	// rising; 100 is reported before a successful completion.
	void Progress(const QString& FileName, int Percentage);

private:
	US3PutObjectOrva() = default;
	~US3PutObjectOrva() override;

	void Start();
	void Send(const QString& PayloadHash);
	void OnSent(FHttpRequestPtr HttpRequest, FHttpResponsePtr Response, bool bWasSuccessful);
	// Hashes the file on a worker thread; OnHashed gets the result on the main thread.
	void StartHashing(bool bWithSha256);
	struct FHashJob;
	static void HashOnWorker(const std::shared_ptr<FHashJob>& Job);
	void OnHashed(const QString& Md5Hex, const QString& Sha256Hex, qint64 BytesRead, const QString& Problem);
	// Decides once both the answer and the file's MD5 are in.
	void Conclude();
	void ReportProgress(qint64 BytesSent);
	void Fail(ES3Errors Error, const QString& Message);
	void Finish(bool bSuccess, ES3Errors Error, const QString& Message);

	QPointer<UAwsS3ClientObject> Client;
	// Copied from the client at activation, so the client may go while the put runs.
	FAwsCredentials Credentials;
	FS3ClientConfiguration Configuration;
	EAwsS3PayloadSigningPolicy PayloadSigningPolicy = EAwsS3PayloadSigningPolicy::RequestDependent;
	FPutObjectRequest Request;
	FPutObjectResult Result;
	FHttpRequestPtr HttpRequest;
	FHttpResponsePtr Answer;
	std::shared_ptr<FHashJob> HashJob;
	bool bHashed = false;
	// Payload signing policy Always: the send waits for the file's SHA-256.
	bool bPrehash = false;
	QString HashProblem;
	qint64 HashedBytes = 0;
	qint64 FileSize = 0;
	int LastPercent = -1;
	bool bActivated = false;
	bool bFinished = false;
};
