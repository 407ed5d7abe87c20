#include "OrvaSDKSubsystem.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "ExportPatchSettings.h"
#include "HotPatcherEditor.h"
#include "Log.h"
#include "OrvaActivityModel.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSettings.h"
#include "Paths.h"

#include <QUrl>

QString UOrvaSDKSubsystem::DefaultServiceBaseUrl()
{
	return OrvaSDKSettings::ServiceBaseUrl.Default();
}

QString UOrvaSDKSubsystem::ClientRelativePath()
{
	return QStringLiteral("../../../ORVAClient");
}

UOrvaSDKSubsystem::UOrvaSDKSubsystem()
    : ServiceBaseUrl(DefaultServiceBaseUrl())
{
}

UOrvaSDKSubsystem::~UOrvaSDKSubsystem()
{
	if (GPatchSettings == PatchSettings.get())
	{
		GPatchSettings = nullptr;
	}
}

QString UOrvaSDKSubsystem::GetUserSettingsPath() const
{
	return OrvaSDKSettings::SettingsFolder(GetHost()->Paths().UserSettingsDir());
}

QString UOrvaSDKSubsystem::GetSettingsFilePath() const
{
	return OrvaSDKSettings::SettingsFilePath(GetHost()->Paths().UserSettingsDir());
}

void UOrvaSDKSubsystem::Initialize(FSubsystemCollection& Collection)
{
	UEditorSubsystem::Initialize(Collection);
	bIsLoggedin = false;
	KeyFolderName.clear();

	PatchSettings = std::make_shared<FExportPatchSettings>();
	PatchSettings->SetProjectDir(GetHost()->Paths().ProjectDir());
	GPatchSettings = PatchSettings.get();
	if (!Activity)
	{
		Activity = new UOrvaActivityModel(this);
	}
	// The build's notification shows in this editor's stack.
	FHotPatcherEditorModule::Get().SetNotificationService(&GetHost()->Notifications());

	UE_LOG(LogTemp, Warning, QStringLiteral("OrvaSDK Initialize"));
	IdentInProgress.clear();

	if (FConfigCache* Config = GetHost()->GetConfig())
	{
		const QString SettingsFile = GetSettingsFilePath();
		// The file holds the access token: only its owner may read it.
		Config->MarkPrivate(SettingsFile);
		AccessToken = OrvaSDKSettings::Token.Get(*Config, SettingsFile);
		// A saved token goes into every request's headers: one that could break a header line is
		// dropped (and so not written back).
		const QString SavedToken = AccessToken.startsWith(QLatin1String("Bearer ")) ? AccessToken.mid(7) : AccessToken;
		if (!AccessToken.isEmpty() && !IsPlainBearerToken(SavedToken))
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("OrvaSDK Initialize: ignored the saved token: it is not a plain bearer token"));
			AccessToken.clear();
		}
		ReadServiceBaseUrlOverride();
	}

	bOnlyServer = false;
	TargetPlatforms.clear();
	TargetPlatforms.append(QStringLiteral("WindowsServer"));
	TargetPlatforms.append(QStringLiteral("WindowsClient"));

	if (!AccessToken.isEmpty())
	{
		GetUserInfo();
	}
}

void UOrvaSDKSubsystem::ReadServiceBaseUrlOverride()
{
	const QString Override = OrvaSDKSettings::ServiceBaseUrl.Get(*GetHost()->GetConfig(), GetSettingsFilePath());
	if (Override.isEmpty())
	{
		return;
	}
	const QUrl Url(Override, QUrl::StrictMode);
	const QString Scheme = Url.scheme().toLower();
	const bool bValid = Url.isValid() && !Url.isRelative() && !Url.host().isEmpty() &&
	                    (Scheme == QLatin1String("http") || Scheme == QLatin1String("https")) &&
	                    Url.query().isEmpty() && Url.fragment().isEmpty() &&
	                    Url.path().endsWith(QLatin1String("/api/v1/"));
	if (!bValid)
	{
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("Ignoring ServiceBaseUrl \"%1\": it must be an absolute http or https address ending with "
		                   "\"/api/v1/\"")
		        .arg(Override));
		return;
	}
	ServiceBaseUrl = Override;
}

void UOrvaSDKSubsystem::Deinitialize()
{
	UE_LOG(LogTemp, Warning, QStringLiteral("OrvaSDK Deinitialize"));
	if (FHotPatcherEditorModule::Get().GetNotificationService() == &GetHost()->Notifications())
	{
		FHotPatcherEditorModule::Get().SetNotificationService(nullptr);
	}
	// Without a token (after a logout, or never logged in) the service can only refuse the details.
	if (!AccessToken.isEmpty())
	{
		UploadWorldDetials();
	}
	if (FConfigCache* Config = GetHost()->GetConfig())
	{
		const QString SettingsFile = GetSettingsFilePath();
		Config->MarkPrivate(SettingsFile);
		OrvaSDKSettings::Token.Set(*Config, SettingsFile, AccessToken);
		Config->Flush(false, SettingsFile);
	}
	UEditorSubsystem::Deinitialize();
}

void UOrvaSDKSubsystem::Logout()
{
	bIsLoggedin = false;
	Q_EMIT OnLoginStateChanged(false);
	AccessToken.clear();
}

void UOrvaSDKSubsystem::SetOnlyBuildServer(bool bInOnlyServer)
{
	bOnlyServer = bInOnlyServer;
	TargetPlatforms.clear();
	TargetPlatforms.append(QStringLiteral("WindowsServer"));
	if (!bOnlyServer)
	{
		TargetPlatforms.append(QStringLiteral("WindowsClient"));
	}
}

UOrvaDataCacheSubsystem* UOrvaSDKSubsystem::GetDataCache() const
{
	return GetHost() ? GetHost()->GetEditorSubsystem<UOrvaDataCacheSubsystem>() : nullptr;
}

void UOrvaSDKSubsystem::UpdateProgress(EOrvaSDKProgress Progress)
{
	CurrWorkspace.Progress = Progress;
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		if (const FWorkspaceDataPtr Workspace = Cache->GetWorkspace(IdentInProgress))
		{
			Workspace->Progress = Progress;
		}
	}
}

EOrvaSDKProgress UOrvaSDKSubsystem::GetCurrProgress() const
{
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		if (const FWorkspaceDataPtr Workspace = Cache->GetWorkspace(CurrWorkspace.WorldIdentifier))
		{
			return Workspace->Progress;
		}
	}
	return EOrvaSDKProgress::None;
}

bool UOrvaSDKSubsystem::IsSafeIdentifier(const QString& Identifier)
{
	if (Identifier.isEmpty() || Identifier == QLatin1String(".") || Identifier.contains(QLatin1String("..")))
	{
		return false;
	}
	// A folder name holds at most 255 bytes on the file systems we write to.
	if (Identifier.toUtf8().size() > 255)
	{
		return false;
	}
	for (const QChar Ch : Identifier)
	{
		if (Ch == QLatin1Char('/') || Ch == QLatin1Char('\\') || Ch == QLatin1Char(':') || Ch.unicode() < 0x20 ||
		    Ch.unicode() == 0x7f)
		{
			return false;
		}
	}
	return true;
}

bool UOrvaSDKSubsystem::IsPlainBearerToken(const QString& Token)
{
	if (Token.isEmpty() || Token.size() > MaxTokenLength)
	{
		return false;
	}
	for (const QChar Ch : Token)
	{
		if (Ch.unicode() <= 0x20 || Ch.unicode() >= 0x7f)
		{
			return false;
		}
	}
	return true;
}

FOrvaServiceJob UOrvaSDKSubsystem::ServiceJob(const QString& Verb, const QString& RelativePath, bool bAccept,
                                              bool bAuthorization) const
{
	FOrvaServiceJob Job(GetHost()->Http(), Verb, ServiceBaseUrl, RelativePath);
	Job.SetDeadline(ServiceDeadline).SetAnswerLimit(ServiceAnswerLimit).SetAcceptJson(bAccept);
	if (bAuthorization)
	{
		Job.SetCredential(QStringLiteral("Authorization"), [Self = QPointer<const UOrvaSDKSubsystem>(this)]
		                  { return Self ? Self->AccessToken : QString(); });
	}
	return Job;
}

void UOrvaSDKSubsystem::SendServiceJob(FOrvaServiceJob& Job, FResponseHandler Handler)
{
	Job.Send(this, [this, Handler](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	         { (this->*Handler)(Req, Resp, bOk); });
}

QString UOrvaSDKSubsystem::CurrentWorldPath(const QString& Label) const
{
	return WorldPath(Label, CurrWorkspace.WorldId);
}

QString UOrvaSDKSubsystem::WorldPath(const QString& Label, const QString& WorldId) const
{
	if (WorldId.isEmpty())
	{
		UE_LOG(LogTemp, Display, QStringLiteral("%1: no world is selected, nothing sent").arg(Label));
		return QString();
	}
	if (!IsSafeIdentifier(WorldId))
	{
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("%1: no request sent, the world id \"%2\" cannot go into an address").arg(Label, WorldId));
		return QString();
	}
	return QStringLiteral("worlds/") + FHttpModule::UrlEncode(WorldId);
}
