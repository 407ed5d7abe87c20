#pragma once

#include "EditorJob.h"
#include "Http.h"
#include "OrvaSDKSubsystem.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class FEditorHost;

// Uploads one local image file as a screenshot of the current world: a multipart form POST whose
// answer describes the stored image. It is a job: its progress is the request's bytes sent, and
// it ends once, on the main thread and never inside Start, so binding right after UploadImage is
// in time. At the end the job finishes first (with the cause when it failed), then exactly one of
// the two events fires; a cancelled upload fires OnUploadFailed.
//
// Ownership: an uploader without a parent owns itself and is released after its end.
class UOrvaAsyncImageUploader : public UEditorJob
{
	Q_OBJECT
	Q_PROPERTY(QString LocalPath MEMBER LocalPath)

public:
	explicit UOrvaAsyncImageUploader(FEditorHost& InHost, QObject* Outer = nullptr);
	~UOrvaAsyncImageUploader() override;

	// Creates a self-owned uploader and starts it with the path.
	static UOrvaAsyncImageUploader* UploadImage(FEditorHost& Host, QString InLocalPath);

	// Starts with the path; an uploader that runs or has ended is not started again.
	void Start(QString InLocalPath);

	// The boundary: 27 hyphens and the low 32 bits of a tick count as a signed decimal.
	static QString MakeBoundary(qint64 Ticks);
	// The current local date and time in ticks (100 ns units since 1 January of year 1).
	static qint64 NowTicks();
	// The bytes before the file's bytes, and those after them.
	static QByteArray MultipartPrefix(const QString& Boundary, const QString& EncodedFileName);
	static QByteArray MultipartSuffix(const QString& Boundary);

	QString LocalPath;

Q_SIGNALS:
	void OnUploadSucceeded(FOrvaImageData ImageData);
	void OnUploadFailed(FOrvaImageData ImageData);

protected:
	void DoStart() override;
	// Aborts the request under way; its completion ends the upload as cancelled.
	bool DoCancel() override;

private:
	void HandleImageRequest(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	// Ends the job with Cause (a success when Stored is given) and fires the matching event.
	void End(const FOrvaImageData* Stored, const QString& Cause = QString());

	FEditorHost& Host;
	FHttpRequestPtr Request;
	bool bCancelRequested = false;
};
