// Every answer handler of the SDK subsystem fed an arbitrary status and body, on a fresh host each
// time. Input: one byte choosing the handler, two bytes of status, one byte of flags, then the body.
#include "EditorHost.h"
#include "FuzzSupport.h"
#include "HttpTestAccess.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"

#include <QDir>
#include <QFile>

#include <array>

namespace
{
using FHandler = void (UOrvaSDKSubsystem::*)(FHttpRequestPtr, FHttpResponsePtr, bool);

constexpr std::array<FHandler, 9> Handlers = {
    &UOrvaSDKSubsystem::Login_ResponseReceived,
    &UOrvaSDKSubsystem::GetUserInfo_ResponseReceived,
    &UOrvaSDKSubsystem::GetWorldsList_ResponseReceived,
    &UOrvaSDKSubsystem::NewWorld_ResponseReceived,
    &UOrvaSDKSubsystem::DeleteWorld_ResponseReceived,
    &UOrvaSDKSubsystem::PrivatizeWorld_ResponseReceived,
    &UOrvaSDKSubsystem::UploadWorldDetials_ResponseReceived,
    &UOrvaSDKSubsystem::SetTitleImage_ResponseReceived,
    &UOrvaSDKSubsystem::GetScreenshots_ResponseReceived,
};

bool WriteFile(const QString& Path, const QByteArray& Bytes)
{
	QDir().mkpath(Path.section(QLatin1Char('/'), 0, -2));
	QFile File(Path);
	return File.open(QIODevice::WriteOnly | QIODevice::Truncate) && File.write(Bytes) == Bytes.size();
}

// A project whose service lies on a closed loopback port: requests the handlers send fail at once.
const QString& ProjectRoot()
{
	static const QString Root = []
	{
		const QString Dir = FFuzz::ScratchDir() + QStringLiteral("Handlers/");
		WriteFile(Dir + QStringLiteral("Project/Project.uproject"), "{}");
		WriteFile(Dir + QStringLiteral("UserSettings/BrackenfoldStudios/ORVA/OrvaSDK.ini"),
		          "[Development]\nServiceBaseUrl=http://127.0.0.1:1/api/v1/\n");
		return Dir;
	}();
	return Root;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	if (Size < 4)
	{
		return 0;
	}
	const FHandler Handler = Handlers[Data[0] % Handlers.size()];
	const int Status = (int(Data[1]) << 8 | Data[2]) % 1000;
	const bool bSuccess = (Data[3] & 1) != 0;
	const bool bNullResponse = (Data[3] & 2) != 0;
	const bool bWithWorkspace = (Data[3] & 4) != 0;
	const QByteArray Body = FFuzz::Bytes(Data + 4, Size - 4);

	const QString Root = ProjectRoot();
	// Handlers may create workspace folders: each input starts from an empty content folder.
	QDir(Root + QStringLiteral("Project/Content")).removeRecursively();
	QDir().mkpath(Root + QStringLiteral("Project/Content"));

	FEditorHostOptions Options;
	Options.ProjectFile = Root + QStringLiteral("Project/Project.uproject");
	Options.UserSettingsDir = Root + QStringLiteral("UserSettings/");
	Options.bLogToFile = false;
	Options.ShutdownFlushMs = 0;
	FEditorHost Host(Options);
	Host.RegisterSubsystem<UOrvaSDKSubsystem>();
	Host.RegisterSubsystem<UOrvaDataCacheSubsystem>();
	Host.Start();
	UOrvaSDKSubsystem& Sdk = *Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (bWithWorkspace)
	{
		FWorkspaceData Workspace;
		Workspace.WorldId = QStringLiteral("w-1");
		Workspace.WorldIdentifier = QStringLiteral("World1");
		Sdk.CurrWorkspace = Workspace;
	}

	const FHttpResponsePtr Response = bNullResponse ? nullptr : FHttpResponseTestAccess::Make(Status, Body);
	(Sdk.*Handler)(Host.Http().CreateRequest(), Response, bSuccess);
	// What a list answer put into the cache is read as the views read it.
	UOrvaDataCacheSubsystem& Cache = *Host.GetEditorSubsystem<UOrvaDataCacheSubsystem>();
	(void)Cache.GetWorlds();
	(void)Cache.GetWorkspaces();
	(void)Cache.GetImages();
	Host.Shutdown();
	return 0;
}
