// Starting the player client on the freshly built client pak: where the executable is (a setting,
// the installer's record, or the creator's choice) and the command line it is given.

#include "OrvaSDKSubsystem.h"

#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "OrvaSDKSettings.h"
#include "Paths.h"
#include "SoftObjectPath.h"
#include "Text.h"

#include <QFile>
#include <QProcess>

#include <utility>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{

const QString ClientBelowInstallFolder = QStringLiteral("ORVAClient/Binaries/Linux/ORVAClient");

} // namespace

QString UOrvaSDKSubsystem::GetInstallerRecordPath() const
{
	return OrvaSDKSettings::InstallerRecordPath(GetHost()->Paths().UserSettingsDir());
}

QStringList UOrvaSDKSubsystem::BuildClientArguments(const QString& ClientPakPath, bool bStereoscopic,
                                                    bool bLogging) const
{
	QString Token = AccessToken;
	if (Token.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
	{
		Token = Token.mid(7);
	}
	// One argument per switch, in the client's order: a path with blanks arrives whole.
	QStringList Arguments;
	Arguments << (bStereoscopic ? QStringLiteral("-ApplicationType=PC_Win64_VR")
	                            : QStringLiteral("-ApplicationType=PC_Win64"))
	          << QStringLiteral("-ApplicationToken=") + Token << QStringLiteral("-PakPlatform=WindowsClient")
	          << QStringLiteral("-RunMode=Editor") << QStringLiteral("-SDK_Id=") + CurrWorkspace.WorldId
	          << QStringLiteral("-SDK_Path=") + ClientPakPath;
	if (bLogging)
	{
		Arguments << QStringLiteral("-Log");
	}
	return Arguments;
}

bool UOrvaSDKSubsystem::OpenClientExe()
{
	FEditorHost& Host = *GetHost();
	FConfigCache* Config = Host.GetConfig();
	const QString SettingsFile = GetSettingsFilePath();

	QString AppPath;
	bool bLogging = OrvaSDKSettings::Logging.Default();
	if (Config)
	{
		AppPath = OrvaSDKSettings::AppPath.Get(*Config, SettingsFile);
		bLogging = OrvaSDKSettings::Logging.Get(*Config, SettingsFile);
	}
	if (AppPath.isEmpty() && Config)
	{
		// Read fresh each time: the installer may have run since.
		Config->Unload(GetInstallerRecordPath());
		const QString InstallLocation = OrvaSDKSettings::InstallLocation.Get(*Config, GetInstallerRecordPath());
		if (!InstallLocation.isEmpty())
		{
			AppPath = FPaths::Combine(InstallLocation, ClientBelowInstallFolder);
		}
	}
	if (AppPath.isEmpty())
	{
		const EAppReturnType Answer = Host.Dialogs().MessageBox(
		    EAppMsgType::YesNo,
		    LOCTEXT(
		        "OrvaSDK_SelectAppManually",
		        "Did not find the application ORVAClient, do you need to manually select the path to the application?")
		        .ToString(),
		    LOCTEXT("OrvaSDK_SelectAppManuallyTitle", "Select ORVAClient manually").ToString());
		if (Answer != EAppReturnType::Yes)
		{
			return false;
		}
		const QString Filter = QStringLiteral("%1 files (%2)|%3")
		                           .arg(QStringLiteral("ORVAClient"), QStringLiteral("*"), QStringLiteral("*"));
		const QStringList Chosen =
		    Host.Dialogs().OpenFileDialog(QStringLiteral("Please Choose Your ORVAClient"),
		                                  FPaths::ConvertRelativePathToFull(Host.Paths().ProjectDir()), Filter, false);
		if (!Chosen.isEmpty())
		{
			AppPath = Chosen.first();
		}
	}

	QStringList Arguments;
	QString ClientPak;
	// The registered client pak of the selected world only (the bookkeeping's rule).
	if (GetCopmonentNamedPakPath(CurrWorkspace.ObjectPath.GetAssetName(), QStringLiteral("WindowsClient"), ClientPak))
	{
		Arguments = BuildClientArguments(ClientPak, Host.EditorSettings().bStereoscopic3D, bLogging);
	}
	const bool bStarted = !AppPath.isEmpty() && QProcess::startDetached(AppPath, Arguments);
	LastClientPath = bStarted ? AppPath : QString();
	UE_LOG(LogTemp, Warning, QStringLiteral("Target::%1").arg(AppPath));
	return bStarted;
}

void UOrvaSDKSubsystem::TaskLaunchORVA_CheckServerPak(bool bServerPakIsUploaded)
{
	const QString Launched = std::exchange(LaunchWorld, QString());
	UEditorStepJob* Job = std::exchange(LaunchJob, nullptr).data();
	auto Fail = [Job](const FText& Cause)
	{
		if (Job)
		{
			Job->FinishFailed(Cause.ToString());
		}
	};
	if (!bServerPakIsUploaded)
	{
		Fail(LOCTEXT("ActivityLaunchNoServerPak", "The server pak was not stored: the client was not started"));
		return;
	}
	// The client would start on the client pak of whichever world is selected now, beside the
	// server pak of another.
	if (!Launched.isEmpty() && Launched != CurrWorkspace.WorldIdentifier)
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("The server pak of %1 is uploaded, but %2 is selected now: the client is not started")
		           .arg(Launched, CurrWorkspace.WorldIdentifier));
		Fail(LOCTEXT("ActivityLaunchOtherWorld", "Another world was selected meanwhile: the client was not started"));
		Q_EMIT OnClientLaunched(false);
		return;
	}
	const bool bStarted = OpenClientExe();
	if (!bStarted)
	{
		Fail(LOCTEXT("ActivityLaunchNoClient", "The ORVA client could not be started; the log says why"));
	}
	else if (Job)
	{
		Job->FinishSucceeded();
	}
	Q_EMIT OnClientLaunched(bStarted);
}

#undef LOCTEXT_NAMESPACE
