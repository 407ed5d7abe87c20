// The publish steps the subsystem carries out itself (relocation, build, registration, launch) as
// listed jobs, and the uploads it starts again.

#include "OrvaSDKSubsystem.h"

#include "Log.h"
#include "OrvaActivityModel.h"
#include "OrvaAsyncFileUploader.h"
#include "Paths.h"

UEditorStepJob* UOrvaSDKSubsystem::BeginActivityStep(EOrvaActivityStep Step, const QString& Title, const QString& World,
                                                     std::function<void()> Retry)
{
	auto* Job = new UEditorStepJob(Title, this);
	Job->Start();
	if (Activity)
	{
		Activity->Track(Job, Step, World, std::move(Retry));
	}
	return Job;
}

UOrvaAsyncFileUploader* UOrvaSDKSubsystem::StartUpload(const QString& PakPath, const QString& World,
                                                       const QString& CheckCode)
{
	UOrvaAsyncFileUploader* Uploader =
	    UOrvaAsyncFileUploader::UploadFile(this, PakPath, FPaths::GetBaseFilename(PakPath), bOnlyServer, CheckCode);
	RunningUploads[World].append(QPointer<QObject>(Uploader));
	// The upload ends once; its pointer also clears when it is released.
	connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, this,
	        [this, World, Uploader](bool bSuccess)
	        {
		        // Only a completion the service confirmed counts as held complete.
		        if (bSuccess)
		        {
			        RecordPublishedPak(Uploader->GetTargetFilePath(), Uploader->GetComponentId(),
			                           Uploader->GetCheckCode());
		        }
		        auto Found = RunningUploads.find(World);
		        if (Found == RunningUploads.end())
		        {
			        return;
		        }
		        Found->removeIf([Uploader](const QPointer<QObject>& Running)
		                        { return Running.isNull() || Running.data() == Uploader; });
		        if (Found->isEmpty())
		        {
			        RunningUploads.erase(Found);
		        }
	        });
	if (Activity)
	{
		// Again from the start: the service is asked first, so a pak it holds complete by now is
		// passed over, and only what was not stored is put.
		Activity->Track(Uploader, EOrvaActivityStep::Upload, World,
		                [this, PakPath, World, CheckCode]
		                {
			                if (IsUploadRunning(World))
			                {
				                ShowTaskInProgress(World);
				                return;
			                }
			                StartUpload(PakPath, World, CheckCode);
		                });
	}
	return Uploader;
}
