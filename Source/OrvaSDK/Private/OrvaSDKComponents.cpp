// Component registration: the built paks become components of the current world, and each pak
// takes the name of its component id.

#include "OrvaSDKSubsystem.h"

#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "Paths.h"

#include <QFile>

void UOrvaSDKSubsystem::InitUpload()
{
	UpdateProgress(EOrvaSDKProgress::PakUploading);
	const QString AssetName = CurrWorkspace.ObjectPath.GetAssetName();
	const QString PackageName = CurrWorkspace.ObjectPath.GetLongPackageName();
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

	const QString WorldPath = CurrentWorldPath(QStringLiteral("UploadComponents"));
	if (WorldPath.isEmpty())
	{
		// Nothing is sent, so no answer will free the task slot.
		UpdateProgress(EOrvaSDKProgress::PakUploadFailed);
		IdentInProgress.clear();
		return;
	}
	const FHttpRequestPtr Request =
	    CreateServiceRequest(QStringLiteral("POST"), WorldPath + QStringLiteral("/components"), true, true);
	Request->SetContentAsString(Writer.Close());
	SendServiceRequest(Request, &UOrvaSDKSubsystem::InitUpload_ResponseReceived);
}

void UOrvaSDKSubsystem::InitUpload_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for UploadComponents: Response Is Not Valid"));
		return;
	}
	const std::optional<QJsonArray> Answer = FJson::ParseArray(Response->GetContent());
	if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: Upload Components Failed"));
		UpdateProgress(EOrvaSDKProgress::PakUploadFailed);
		IdentInProgress.clear();
		return;
	}
	for (const QJsonValue& Element : *Answer)
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
		// Only the file's own name changes, never a folder that happens to contain the same text.
		const QString OldPath = GetPakPathByPakName(FileName);
		const QString NewPath = FPaths::Combine(FPaths::GetPath(OldPath), ComponentId + QStringLiteral(".pak"));
		if (OldPath != NewPath)
		{
			QFile::rename(OldPath, NewPath);
		}
		SaveComponentInfoToFile(ComponentId, Platform);
	}
	// The chain of this build ends here: the next task may start.
	IdentInProgress.clear();
}
