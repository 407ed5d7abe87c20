#pragma once

#include "AwsS3Client.h"
#include "AwsS3Types.h"
#include "Http.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

// One object PUT from a local file. Before the first byte goes, a worker thread reads the file
// once for its MD5 (and its SHA-256 with payload signing policy Always); the PUT carries the MD5 as
// a signed "Content-MD5", so the store itself refuses a body damaged on the way, or a file changed
// since it was hashed, with BadDigest. The body then streams from disk ("UNSIGNED-PAYLOAD" unless
// signed). Where the answer's ETag is the object's MD5 it is compared as well, for stores that
// ignore "Content-MD5". Transient store errors are tried again with jittered exponential backoff
// (the whole-object PUT is idempotent). The action owns itself from PutObject until its completion
// has been broadcast. Main thread only; its events arrive on the main thread.
//
// A file above the configured threshold goes up in parts instead (CreateMultipartUpload, several
// UploadPart at once, CompleteMultipartUpload): a worker hashes each part as a byte range of the
// file, each part streams from disk with its own signed "Content-MD5", a failed part alone is sent
// again, and the completed object's ETag is checked against the MD5 of the parts' MD5s. Progress
// counts the bytes of parts the store acknowledged. A journal beside the file (JournalPathFor)
// keeps the upload id and the acknowledged parts, written durably: a later put of the same
// unchanged file to the same key asks the store which parts it holds (ListParts) and sends only
// the others. An upload that is cancelled or refused is aborted and its journal removed; one that
// ran out of attempts on a bad link, or whose action went away, stays for the next put.
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
	// The answer to CredentialsExpired: the transfer goes on with Fresh. Unusable credentials end
	// it with ExpiredToken.
	Q_INVOKABLE void RenewCredentials(const FAwsCredentials& Fresh);

	// Before renewing, the credentials are taken as expired this long before their Expiration.
	static constexpr int RenewBeforeExpirySeconds = 60;

	const FPutObjectRequest& GetRequest() const { return Request; }

	// Where the multipart transfer of LocalFile keeps its journal.
	static QString JournalPathFor(const QString& LocalFile);

Q_SIGNALS:
	// The completion event: success, the result (also on failure, as far as it got), the error
	// kind (None on success) and a message (the store's code and message on a store error).
	void Completed(bool bSuccess, const FPutObjectResult& Result, ES3Errors Error, const QString& ErrorMessage);
	// The progress event: the local file and the whole percent sent, each percent at most once,
	// rising; 100 is reported before a successful completion.
	void Progress(const QString& FileName, int Percentage);
	// The store refused the credentials as expired, or they expire within a minute: whoever issued
	// them answers with RenewCredentials, and the transfer waits for that. Without a receiver the
	// put fails with ExpiredToken.
	void CredentialsExpired();

private:
	US3PutObjectOrva() = default;
	~US3PutObjectOrva() override;

	void Start();
	// One attempt: a fresh request, signed as it goes.
	void Send();
	void OnSent(FHttpRequestPtr HttpRequest, FHttpResponsePtr Response, bool bWasSuccessful);
	// Hashes the file on a worker thread; OnHashed gets the result on the main thread.
	void StartHashing(bool bWithSha256);
	struct FHashJob;
	static void HashOnWorker(const std::shared_ptr<FHashJob>& Job);
	void OnHashed(const QByteArray& Md5, const QString& Sha256Hex, qint64 BytesRead, const QString& Problem);
	void Conclude();
	// Waits for RenewCredentials, then runs Then; false when nobody can renew them (no receiver,
	// or renewed too often already).
	bool AwaitFreshCredentials(std::function<void()> Then);
	// The credentials are known to expire within RenewBeforeExpirySeconds.
	bool CredentialsAboutToExpire() const;
	// Sends again after a jittered pause when attempts are left; false when they are not.
	bool RetryLater(const QString& Why);
	void ReportProgress(qint64 BytesSent);
	void Fail(ES3Errors Error, const QString& Message);
	// The multipart transfer (S3MultipartPut.cpp).
	struct FMultipart;
	struct FPartHashJob;
	void StartMultipart();
	static void HashPartsOnWorker(const std::shared_ptr<FPartHashJob>& Job);
	void OnPartHashed(int Index, const QByteArray& Md5, const QString& Sha256Hex, const QString& Problem);
	void SendCreateMultipart();
	void SendListParts(const QString& Marker);
	void OnPartsListed(FHttpResponsePtr Response, bool bOk);
	// The journal: read at the start, written (on a worker, in order) after every change.
	bool ReadJournal();
	void WriteJournal();
	void RemoveJournal();
	// A part the store already holds, whose bytes on disk have the store's ETag, needs no send.
	void TakeStoredPart(int Index);
	void OnMultipartCreated(FHttpResponsePtr Response, bool bOk);
	void PumpParts();
	void SendPart(int Index);
	void OnPartSent(int Index, FHttpRequestPtr Sent, FHttpResponsePtr Response, bool bOk);
	bool RetryPartLater(int Index, const QString& Why);
	void SendCompleteMultipart();
	void OnMultipartCompleted(FHttpResponsePtr Response, bool bOk);
	void CancelMultipartRequests();
	// Ends a failed or cancelled multipart transfer: the store drops the parts, then Finish.
	void AbortMultipartThenFinish(ES3Errors Error, const QString& Message);
	void SendAbortMultipart(ES3Errors Error, const QString& Message);
	// A request to the object's address with Query, signed as it goes (Content-MD5 and
	// Content-Type among Headers are signed too); null with OutProblem when it cannot be made.
	// Made from Http, the host's module unless given.
	FHttpRequestPtr NewStoreRequest(const QString& Verb, const QList<QPair<QString, QString>>& Query,
	                                const FHttpBody& Body, const QString& PayloadHashHex,
	                                const QList<QPair<QString, QString>>& Headers, QString& OutProblem,
	                                FHttpModule* Http = nullptr);
	// Sends one control call of the multipart transfer (create, list, complete), counted as an
	// attempt; its answer goes to Handler. False, with the put failed, when it cannot be made.
	bool SendControlRequest(const QString& Verb, const QList<QPair<QString, QString>>& Query, const QByteArray& Body,
	                        const QList<QPair<QString, QString>>& Headers,
	                        void (US3PutObjectOrva::*Handler)(FHttpResponsePtr, bool));
	void Finish(bool bSuccess, ES3Errors Error, const QString& Message);

	QPointer<UAwsS3ClientObject> Client;
	// Copied from the client at activation, so the client may go while the put runs.
	FAwsCredentials Credentials;
	FS3ClientConfiguration Configuration;
	EAwsS3PayloadSigningPolicy PayloadSigningPolicy = EAwsS3PayloadSigningPolicy::RequestDependent;
	FPutObjectRequest Request;
	FPutObjectResult Result;
	FHttpRequestPtr HttpRequest;
	std::shared_ptr<FHashJob> HashJob;
	// What every attempt sends: the x-amz-content-sha256 value and the base64 "Content-MD5".
	QString PayloadHash;
	QByteArray ContentMd5Base64;
	// The pause before the next attempt; a cancel stops it.
	QTimer* RetryTimer = nullptr;
	qint64 FileSize = 0;
	int LastPercent = -1;
	std::unique_ptr<FMultipart> Multipart;
	// What waits for fresh credentials.
	QList<std::function<void()>> AfterRenewal;
	bool bAwaitingCredentials = false;
	// Renewals since the store last acknowledged anything: a service that keeps handing out
	// credentials the store refuses does not keep the transfer going for ever.
	int Renewals = 0;
	QDateTime CredentialsReceived;
	bool bActivated = false;
	bool bFinished = false;
};
