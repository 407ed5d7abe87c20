#pragma once

#include "Dialogs.h"
#include "EditorHost.h"
#include "Log.h"
#include "OrvaAsyncFileUploader.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptRecorder.h"

#include <QObject>
#include <QString>

#include <deque>
#include <optional>

namespace OrvaScript
{
// Follows the component uploads the SDK subsystem starts and keeps how each ended until `uploads`
// reports it.
class FUploadWatcher final : public QObject
{
public:
	struct FUpload
	{
		QString File;
		QString ComponentId;
		QString Bucket;
		QString Key;
		bool bEnded = false;
		bool bSuccess = false;
	};

	void Watch(UOrvaSDKSubsystem* Sdk)
	{
		connect(Sdk, &UOrvaSDKSubsystem::OnUploadStarted, this, &FUploadWatcher::Follow);
	}

	void Follow(UOrvaAsyncFileUploader* Uploader)
	{
		const size_t Index = Uploads.size();
		Uploads.push_back({Uploader->GetTargetFilePath(), Uploader->GetComponentId()});
		UE_LOG(LogOrvaAutomation, Log,
		       QStringLiteral("Upload %1 started: %2").arg(Index + 1).arg(Uploader->GetTargetFilePath()));
		connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, this,
		        [this, Index, Uploader](bool bSuccess)
		        {
			        FUpload& Upload = Uploads[Index];
			        Upload.bEnded = true;
			        Upload.bSuccess = bSuccess;
			        // What the credentials answer gave it, read while the uploader still lives.
			        Upload.ComponentId = Uploader->GetComponentId();
			        Upload.Bucket = Uploader->GetBucketName();
			        Upload.Key = Uploader->GetKeyUrl();
		        });
	}

	// Node-based: a connection refers to its entry by index while more are added.
	std::deque<FUpload> Uploads;
	size_t Reported = 0;
};

// Notices message boxes the policy dialog service showed without an answer queued for them.
class FMessageBoxWatcher
{
public:
	explicit FMessageBoxWatcher(FEditorHost& InHost)
	    : Host(InHost)
	{
		if (FPolicyDialogService* Service = Dialogs())
		{
			SeenMessages = Service->ShownMessages().size();
		}
	}

	FPolicyDialogService* Dialogs() const { return dynamic_cast<FPolicyDialogService*>(&Host.Dialogs()); }

	// A message box shown since the last check that found no answer.
	std::optional<FPolicyDialogService::FShownMessage> NewUnanswered() const
	{
		const FPolicyDialogService* Service = Dialogs();
		if (!Service)
		{
			return std::nullopt;
		}
		const QList<FPolicyDialogService::FShownMessage>& Shown = Service->ShownMessages();
		for (qsizetype Index = SeenMessages; Index < Shown.size(); ++Index)
		{
			if (!Shown[Index].bAnswered)
			{
				return Shown[Index];
			}
		}
		return std::nullopt;
	}

	bool Check(QString& Reason)
	{
		const std::optional<FPolicyDialogService::FShownMessage> Unanswered = NewUnanswered();
		if (const FPolicyDialogService* Service = Dialogs())
		{
			SeenMessages = Service->ShownMessages().size();
		}
		if (Unanswered)
		{
			Reason = QStringLiteral("a message box found no answer (queue one with `answer`): \"%1\": %2")
			             .arg(Unanswered->Title, Unanswered->Message);
			return false;
		}
		return true;
	}

private:
	FEditorHost& Host;
	qsizetype SeenMessages = 0;
};
} // namespace OrvaScript
