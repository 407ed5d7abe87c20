#pragma once

#include "Http.h"
#include "Log.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

inline constexpr FLogCategory LogInit{"LogInit"};
inline constexpr FLogCategory LogOnline{"LogOnline"};
inline constexpr FLogCategory LogPakFile{"LogPakFile"};
inline constexpr FLogCategory LogWorld{"LogWorld"};

// What the editor passes when it launches the client, one switch per argument (see
// docs/ClientLaunch.md).
struct FClientCommandLine
{
	QString ApplicationType; // "PC_Win64" or "PC_Win64_VR"
	QString Token;           // without "Bearer "
	QString PakPlatform;     // "WindowsClient"
	QString RunMode;         // "Editor"
	QString WorldId;
	QString PakPath;
	bool bLog = false;
	// Switches this client does not know; reported, not fatal.
	QStringList Unknown;

	static FClientCommandLine Parse(const QStringList& Arguments);
	// Empty when the line names a world to play; else what is missing or malformed.
	QString Problem() const;
	// The line as received, with the token masked: fit for the log.
	QString Describe() const;
};

// The player client's run on one world: checks the token with the service, looks the world and
// the pak's component up, mounts the pak with every hash verified and finds the world's level in
// it. Ends with one "Verdict:" line and Finished(exit code): 0 when the world can be played.
class FOrvaClient : public QObject
{
	Q_OBJECT

public:
	FOrvaClient(FClientCommandLine InLine, QString InServiceBaseUrl, QObject* Parent = nullptr);
	~FOrvaClient() override;

	void Start();

	static constexpr int ExitPlayable = 0;
	static constexpr int ExitNotPlayable = 1;
	static constexpr int ExitUsage = 2;

Q_SIGNALS:
	void Finished(int ExitCode);

private:
	using FAnswerHandler = std::function<void(int Status, const QJsonObject& Body)>;
	// GET below the service's base address with the token; the handler sees 2xx answers whose body
	// is a JSON object. Anything else ends the run with Failure and the service's detail.
	void Get(const QString& RelativePath, const QString& Failure, FAnswerHandler Handler);

	void CheckToken();
	void FindWorld();
	void FindComponent();
	void MountPak();
	void Fail(const QString& Reason, int ExitCode = ExitNotPlayable);
	void Succeed(const QString& LevelPackage);

	FClientCommandLine Line;
	QString ServiceBaseUrl;
	std::unique_ptr<FHttpModule> Http;
	QString WorldName;
	QString WorldIdentifier;
	QString ComponentId;
	QString LevelPackage;
	bool bDone = false;
};

// Where the client keeps its settings and its log.
namespace OrvaClientPaths
{
// The folder above "Binaries/<platform>/" when the executable lies there (an installed client),
// else the executable's folder.
QString ClientRoot(const QString& ExecutableDir);
QString LogFile(const QString& ExecutableDir);
// "ServiceBaseUrl" of section "Development" in the user's "OrvaSDK.ini", else the platform's
// address.
QString ServiceBaseUrl();
} // namespace OrvaClientPaths
