// Component registration: the built paks become components of the current world, and each pak
// takes the name of its component id.

#include "OrvaSDKSubsystem.h"

#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "OrvaActivityModel.h"
#include "Paths.h"
#include "Text.h"

#include <QFile>

#define LOCTEXT_NAMESPACE "OrvaSDK"

void UOrvaSDKSubsystem::InitUpload()
{
	InitUploadFor(CurrWorkspace);
}

void UOrvaSDKSubsystem::InitUploadFor(const FWorkspaceData& Workspace)
{
	UpdateProgress(EOrvaSDKProgress::PakUploading);
	const QString AssetName = Workspace.ObjectPath.GetAssetName();
	const QString PackageName = Workspace.ObjectPath.GetLongPackageName();
	const bool bSandbox = TargetPlatforms.size() == 1 &&
	                      TargetPlatforms.first().compare(QLatin1String("WindowsServer"), Qt::CaseInsensitive) == 0;

	FCondensedJsonWriter Writer;
	Writer.WriteArrayStart();
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		Writer.WriteObjectStart();
		Writer.WriteObjectStart(QStringLiteral("metadata"));
		Writer.WriteValue(QStringLiteral("map"), PackageName);
		Writer.WriteValue(QStringLiteral("filename"), AssetName + QLatin1Char('_') + Platform);
		Writer.WriteObjectEnd();
		Writer.WriteValue(QStringLiteral("name"), QStringLiteral("environment"));
		Writer.WriteValue(QStringLiteral("platform"), Platform);
		Writer.WriteValue(QStringLiteral("sandbox"), bSandbox);
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();

	UEditorStepJob* Job = BeginActivityStep(
	    EOrvaActivityStep::Registration,
	    FText::Format(LOCTEXT("ActivityRegister", "Register the paks of {0}"), {AssetName}).ToString(),
	    Workspace.WorldIdentifier, [this, Workspace] { InitUploadFor(Workspace); });
	const QString Path = WorldPath(QStringLiteral("UploadComponents"), Workspace.WorldId);
	if (Path.isEmpty())
	{
		// Nothing is sent, so no answer will free the task slot.
		UpdateProgress(EOrvaSDKProgress::PakUploadFailed);
		IdentInProgress.clear();
		Job->FinishFailed(
		    FText::Format(LOCTEXT("ActivityRegisterBadWorld", "The world id \"{0}\" cannot go into a request"),
		                  {Workspace.WorldId})
		        .ToString());
		return;
	}
	FOrvaServiceJob Request = ServiceJob(QStringLiteral("POST"), Path + QStringLiteral("/components"), true, true);
	Request.SetJsonBody(Writer.Close()).SetLabel(QStringLiteral("UploadComponents"));
	SendServiceJob(Request, &UOrvaSDKSubsystem::InitUpload_ResponseReceived);
	// The answer comes on a later turn of the event loop, whether or not the request could start.
	PendingRegistrations.insert(Request.GetRequest().get(), FRegistration{Workspace.WorldIdentifier, AssetName, Job});
}

void UOrvaSDKSubsystem::InitUpload_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool)
{
	// The answer belongs to the world it was sent for; called without a request of ours, it is
	// handled for the current one.
	const auto Pending = PendingRegistrations.constFind(Request.get());
	const FRegistration Registration =
	    Pending != PendingRegistrations.cend()
	        ? *Pending
	        : FRegistration{CurrWorkspace.WorldIdentifier, CurrWorkspace.ObjectPath.GetAssetName()};
	PendingRegistrations.remove(Request.get());
	// Whatever the outcome, the chain of this build ends here: the next task may start.
	auto Fail = [this, Job = Registration.Job](const QString& Cause)
	{
		UpdateProgress(EOrvaSDKProgress::PakUploadFailed);
		IdentInProgress.clear();
		if (Job)
		{
			Job->FinishFailed(Cause);
		}
	};
	if (!Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for UploadComponents: Response Is Not Valid"));
		Fail(DescribeServiceFailure(Response));
		return;
	}
	const std::optional<QJsonArray> Answer = FOrvaServiceJob::ReadArray(Response, QStringLiteral("UploadComponents"));
	const int Code = Response->GetResponseCode();
	if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: Upload Components Failed"));
		Fail(
		    Code < 200 || Code >= 300
		        ? DescribeServiceFailure(Response)
		        : LOCTEXT("ActivityRegisterUnreadable", "The service's answer is not a list of components").ToString());
		return;
	}
	if (Code < 200 || Code >= 300)
	{
		// A refusal registered nothing, whatever its body lists.
		UE_LOG(LogTemp, Error,
		       QStringLiteral("UploadComponents: the service refused the components (HTTP %1)").arg(Code));
		Fail(DescribeServiceFailure(Response));
		return;
	}
	bool bAllRecorded = true;
	for (const QJsonValue Element : *Answer)
	{
		if (!Element.isObject())
		{
			continue;
		}
		const QJsonObject Component = Element.toObject();
		const std::optional<QJsonObject> Metadata = FJson::GetObject(Component, QStringLiteral("metadata"));
		if (!Metadata)
		{
			continue;
		}
		const QString ComponentId = FJson::GetString(Component, QStringLiteral("id"));
		const QString Platform = FJson::GetString(Component, QStringLiteral("platform"));
		const QString FileName = FJson::GetString(*Metadata, QStringLiteral("filename"));
		// Each of them names a file or folder here: nothing outside the build folder is touched.
		bool bRefused = false;
		for (const auto& [Label, Value] :
		     {std::pair{QStringLiteral("component id"), ComponentId}, std::pair{QStringLiteral("platform"), Platform},
		      std::pair{QStringLiteral("file name"), FileName}})
		{
			if (!IsSafeIdentifier(Value))
			{
				UE_LOG(
				    LogTemp, Error,
				    QStringLiteral("UploadComponents: refused the %1 \"%2\": it cannot name a file").arg(Label, Value));
				bRefused = true;
				break;
			}
		}
		if (bRefused)
		{
			continue;
		}
		bAllRecorded &= RegisterComponent(Registration, ComponentId, Platform, FileName);
	}
	if (!bAllRecorded)
	{
		Fail(LOCTEXT("ActivityRegisterNotRecorded", "Not every component could be recorded here; the log says which")
		         .ToString());
		return;
	}
	IdentInProgress.clear();
	if (Registration.Job)
	{
		Registration.Job->FinishSucceeded();
	}
}

#undef LOCTEXT_NAMESPACE
