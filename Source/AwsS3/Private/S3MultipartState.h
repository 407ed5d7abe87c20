#pragma once

#include "S3PutObjectOrva.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>

// The worker reads only the fields set before it starts and the flag; Owner is read on the main
// thread only.
struct US3PutObjectOrva::FPartHashJob
{
	QString FilePath;
	QList<QPair<qint64, qint64>> Ranges; // offset, length of each part to hash, in order
	QList<int> Indexes;                  // the part each range belongs to
	bool bWithSha256 = false;
	std::atomic<bool> bCancelled{false};
	QPointer<US3PutObjectOrva> Owner;
};

struct US3PutObjectOrva::FMultipart
{
	enum class EPart : quint8
	{
		Hashing,
		Ready,
		InFlight,
		Waiting, // a retry's pause
		Done,
	};
	struct FPart
	{
		qint64 Offset = 0;
		qint64 Length = 0;
		QByteArray Md5;
		QString Sha256Hex;
		QString ETag;
		EPart State = EPart::Hashing;
		int Attempts = 0;
		// The part was hashed again after a BadDigest; a second one ends the transfer.
		bool bReread = false;
		// The ETag of the part as the store held it when the upload was resumed.
		QString StoredETag;
		FHttpRequestPtr Request;
	};
	qint64 PartSize = 0;
	QList<FPart> Parts;
	QString UploadId;
	// The upload named by the journal, until ListParts confirmed it.
	QString ResumeUploadId;
	QString JournalPath;
	qint64 FileModifiedMs = 0;
	QString Digest;
	bool bResumed = false;
	int InFlight = 0;
	qint64 AcknowledgedBytes = 0;
	// CreateMultipartUpload, CompleteMultipartUpload or AbortMultipartUpload on the way.
	FHttpRequestPtr ControlRequest;
	int ControlAttempts = 0;
	// The file's pass, and the re-reads of parts refused with BadDigest.
	QList<std::shared_ptr<FPartHashJob>> HashJobs;
	bool bCompleting = false;
	bool bAborting = false;
};
