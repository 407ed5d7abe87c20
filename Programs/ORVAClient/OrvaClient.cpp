#include "OrvaClient.h"

#include "CommandLine.h"
#include "ConfigCache.h"
#include "Json.h"
#include "ObjectClasses.h"
#include "OrvaSDKSettings.h"
#include "PackageFile.h"
#include "PakFile.h"
#include "Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace
{

// Every logged line holds text from outside (the command line, the service's answers, the pak), so
// each goes through PakFormat::Printable: no name can start a line of its own, such as a verdict.

// Where the editor's pak list puts the client's own project.
const QString ClientContent = QStringLiteral("../../../ORVAClient/Content/");
// Answers from the service are small; a level package too.
constexpr qint64 MaxAnswerBytes = 1 << 20;
constexpr qint64 MaxLevelBytes = qint64(64) << 20;

bool IsPlainToken(const QString& Token)
{
	static const QRegularExpression Pattern(QStringLiteral("^[A-Za-z0-9\\-._~+/]+=*$"));
	return Pattern.match(Token).hasMatch();
}

// Ids go into the service's paths.
bool IsSafeId(const QString& Id)
{
	static const QRegularExpression Pattern(QStringLiteral("^[A-Za-z0-9_-]{1,128}$"));
	return Pattern.match(Id).hasMatch();
}

QString Quoted(const QString& Text)
{
	return Text.contains(QLatin1Char(' ')) ? QLatin1Char('"') + Text + QLatin1Char('"') : Text;
}

} // namespace

FClientCommandLine FClientCommandLine::Parse(const QStringList& Arguments)
{
	FClientCommandLine Line;
	const QList<QPair<QString, QString*>> Switches = {
	    {QStringLiteral("ApplicationType"), &Line.ApplicationType},
	    {QStringLiteral("ApplicationToken"), &Line.Token},
	    {QStringLiteral("PakPlatform"), &Line.PakPlatform},
	    {QStringLiteral("RunMode"), &Line.RunMode},
	    {QStringLiteral("SDK_Id"), &Line.WorldId},
	    {QStringLiteral("SDK_Path"), &Line.PakPath},
	};
	// The first of a repeated switch counts, as the engine's parser reads them.
	for (const auto& [Name, Target] : Switches)
	{
		*Target = FCommandLine::SwitchValue(Arguments, Name);
	}
	const QString LogSwitch = QStringLiteral("Log");
	Line.bLog = FCommandLine::Param(Arguments, LogSwitch);
	for (const QString& Argument : Arguments)
	{
		const QString Name = FCommandLine::SwitchName(Argument);
		const bool bKnown =
		    FCommandLine::Param({Argument}, LogSwitch) ||
		    std::any_of(Switches.begin(), Switches.end(),
		                [&Name](const auto& Switch) { return Name.compare(Switch.first, Qt::CaseInsensitive) == 0; });
		if (bKnown)
		{
			continue;
		}
		// The token may arrive misspelt ("ApplicationToken=...", "-ApplicationToken:..."); it is a
		// secret all the same, and these lines are logged.
		Line.Unknown.append(Argument.contains(QLatin1String("ApplicationToken"), Qt::CaseInsensitive)
		                        ? QStringLiteral("-ApplicationToken=<hidden>")
		                        : Argument);
	}
	return Line;
}

QString FClientCommandLine::Problem() const
{
	if (WorldId.isEmpty() && PakPath.isEmpty() && Token.isEmpty())
	{
		return QStringLiteral("no world to play: the launch passed no -SDK_Id, -SDK_Path or -ApplicationToken");
	}
	QStringList Missing;
	if (Token.isEmpty())
	{
		Missing << QStringLiteral("-ApplicationToken");
	}
	if (WorldId.isEmpty())
	{
		Missing << QStringLiteral("-SDK_Id");
	}
	if (PakPath.isEmpty())
	{
		Missing << QStringLiteral("-SDK_Path");
	}
	if (!Missing.isEmpty())
	{
		return QStringLiteral("the launch passed no %1").arg(Missing.join(QStringLiteral(", ")));
	}
	if (ApplicationType != QLatin1String("PC_Win64") && ApplicationType != QLatin1String("PC_Win64_VR"))
	{
		return QStringLiteral("-ApplicationType=%1 is not PC_Win64 or PC_Win64_VR").arg(ApplicationType);
	}
	if (PakPlatform != QLatin1String("WindowsClient"))
	{
		return QStringLiteral("-PakPlatform=%1: this client mounts WindowsClient paks only").arg(PakPlatform);
	}
	if (RunMode != QLatin1String("Editor"))
	{
		return QStringLiteral("-RunMode=%1: only the editor's test run (Editor) is supported").arg(RunMode);
	}
	if (!IsPlainToken(Token))
	{
		return QStringLiteral("-ApplicationToken is not a plain bearer token");
	}
	if (!IsSafeId(WorldId))
	{
		return QStringLiteral("-SDK_Id=%1 is not a world id").arg(WorldId);
	}
	if (!QDir::isAbsolutePath(PakPath) || !PakPath.endsWith(QLatin1String(".pak"), Qt::CaseInsensitive))
	{
		return QStringLiteral("-SDK_Path=%1 is not the absolute path of a pak").arg(PakPath);
	}
	return QString();
}

QString FClientCommandLine::Describe() const
{
	QStringList Parts;
	Parts << QStringLiteral("-ApplicationType=") + ApplicationType
	      << QStringLiteral("-ApplicationToken=") + (Token.isEmpty() ? QString() : QStringLiteral("<hidden>"))
	      << QStringLiteral("-PakPlatform=") + PakPlatform << QStringLiteral("-RunMode=") + RunMode
	      << QStringLiteral("-SDK_Id=") + WorldId << Quoted(QStringLiteral("-SDK_Path=") + PakPath);
	if (bLog)
	{
		Parts << QStringLiteral("-Log");
	}
	return Parts.join(QLatin1Char(' '));
}

FOrvaClient::FOrvaClient(FClientCommandLine InLine, QString InServiceBaseUrl, QObject* Parent)
    : QObject(Parent)
    , Line(std::move(InLine))
    , ServiceBaseUrl(std::move(InServiceBaseUrl))
    , Http(std::make_unique<FHttpModule>())
{
	Http->SetDefaultTimeout(15.0);
	Http->SetDefaultDeadline(30.0);
	Http->SetDefaultResponseBodyLimit(MaxAnswerBytes);
}

FOrvaClient::~FOrvaClient() = default;

void FOrvaClient::Start()
{
	for (const QString& Unknown : std::as_const(Line.Unknown))
	{
		UE_LOG(LogInit, Display, PakFormat::Printable(QStringLiteral("Ignoring the unknown switch %1").arg(Unknown)));
	}
	const QString Problem = Line.Problem();
	if (!Problem.isEmpty())
	{
		Fail(Problem, ExitUsage);
		return;
	}
	UE_LOG(LogInit, Display,
	       PakFormat::Printable(QStringLiteral("Application type %1%2")
	                                .arg(Line.ApplicationType, Line.ApplicationType.endsWith(QLatin1String("_VR"))
	                                                               ? QStringLiteral(" (VR)")
	                                                               : QString())));
	UE_LOG(LogOnline, Display, PakFormat::Printable(QStringLiteral("Service: %1").arg(ServiceBaseUrl)));
	CheckToken();
}

void FOrvaClient::Get(const QString& RelativePath, const QString& Failure, FAnswerHandler Handler)
{
	FHttpRequestPtr Request = Http->CreateRequest();
	Request->SetVerb(QStringLiteral("GET"));
	const QString Url = ServiceBaseUrl + RelativePath;
	Request->SetURL(Url);
	Request->SetHeader(QStringLiteral("accept"), QStringLiteral("application/json"));
	Request->SetHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer ") + Line.Token);
	Request->OnProcessRequestComplete(
	    this,
	    [this, Url, Failure, Handler = std::move(Handler)](FHttpRequestPtr, FHttpResponsePtr Response, bool)
	    {
		    if (!Response)
		    {
			    Fail(QStringLiteral("%1: no answer from %2").arg(Failure, Url));
			    return;
		    }
		    const int Status = Response->GetResponseCode();
		    const std::optional<QJsonObject> Body = FJson::ParseObject(Response->GetContent());
		    if (Status < 200 || Status > 299)
		    {
			    const QString Detail = Body ? FJson::GetString(*Body, QStringLiteral("detail")) : QString();
			    Fail(QStringLiteral("%1 (HTTP %2%3)")
			             .arg(Failure)
			             .arg(Status)
			             .arg(Detail.isEmpty() ? QString() : QStringLiteral(": ") + Detail));
			    return;
		    }
		    if (!Body)
		    {
			    Fail(QStringLiteral("%1: the answer of %2 is not a JSON object").arg(Failure, Url));
			    return;
		    }
		    Handler(Status, *Body);
	    });
	Request->ProcessRequest();
}

void FOrvaClient::CheckToken()
{
	Get(QStringLiteral("me"), QStringLiteral("the service refused the token"),
	    [this](int, const QJsonObject& Me)
	    {
		    const QString Id = FJson::GetString(Me, QStringLiteral("id"));
		    if (Id.isEmpty())
		    {
			    Fail(QStringLiteral("the service's profile answer names no account"));
			    return;
		    }
		    UE_LOG(LogOnline, Display,
		           PakFormat::Printable(QStringLiteral("Token accepted: signed in as %1 (creator %2)")
		                                    .arg(FJson::GetString(Me, QStringLiteral("display_name")), Id)));
		    FindWorld();
	    });
}

void FOrvaClient::FindWorld()
{
	Get(QStringLiteral("worlds/") + Line.WorldId,
	    QStringLiteral("world %1 is not a world of this creator").arg(Line.WorldId),
	    [this](int, const QJsonObject& World)
	    {
		    WorldName = FJson::GetString(World, QStringLiteral("name"));
		    WorldIdentifier = FJson::GetString(World, QStringLiteral("identifier"));
		    if (!IsSafeId(WorldIdentifier))
		    {
			    Fail(
			        QStringLiteral("the service's answer for world %1 has no usable \"identifier\"").arg(Line.WorldId));
			    return;
		    }
		    UE_LOG(LogOnline, Display,
		           PakFormat::Printable(
		               QStringLiteral("World %1 \"%2\", folder %3").arg(Line.WorldId, WorldName, WorldIdentifier)));
		    FindComponent();
	    });
}

void FOrvaClient::FindComponent()
{
	// A registered pak is named after its component.
	ComponentId = QFileInfo(Line.PakPath).completeBaseName();
	if (!IsSafeId(ComponentId))
	{
		Fail(QStringLiteral("%1 is not named after a component").arg(Line.PakPath));
		return;
	}
	Get(QStringLiteral("components/") + ComponentId,
	    QStringLiteral("%1 is not a registered component").arg(QFileInfo(Line.PakPath).fileName()),
	    [this](int, const QJsonObject& Component)
	    {
		    const QString OwnerWorld = FJson::GetString(Component, QStringLiteral("world_id"));
		    const QString Platform = FJson::GetString(Component, QStringLiteral("platform"));
		    const std::optional<QJsonObject> Metadata = FJson::GetObject(Component, QStringLiteral("metadata"));
		    LevelPackage = Metadata ? FJson::GetString(*Metadata, QStringLiteral("map")) : QString();
		    if (OwnerWorld != Line.WorldId)
		    {
			    Fail(QStringLiteral("component %1 belongs to world %2, not to world %3")
			             .arg(ComponentId, OwnerWorld, Line.WorldId));
			    return;
		    }
		    if (Platform.compare(Line.PakPlatform, Qt::CaseInsensitive) != 0)
		    {
			    Fail(QStringLiteral("component %1 is a %2 pak, not a %3 pak")
			             .arg(ComponentId, Platform, Line.PakPlatform));
			    return;
		    }
		    const QString WorldFolder = QStringLiteral("/Game/") + WorldIdentifier + QLatin1Char('/');
		    if (!LevelPackage.startsWith(WorldFolder, Qt::CaseInsensitive) || LevelPackage.contains(QLatin1Char('.')))
		    {
			    Fail(QStringLiteral("component %1 names the level \"%2\", which lies outside the world's folder %3")
			             .arg(ComponentId, LevelPackage, WorldFolder));
			    return;
		    }
		    UE_LOG(LogOnline, Display,
		           PakFormat::Printable(QStringLiteral("Component %1 (%2) of world %3: level %4")
		                                    .arg(ComponentId, Platform, Line.WorldId, LevelPackage)));
		    MountPak();
	    });
}

void FOrvaClient::MountPak()
{
	FPakReader Reader;
	if (!Reader.Open(Line.PakPath))
	{
		// The reader's messages name the pak.
		Fail(QStringLiteral("cannot mount the pak: %1").arg(Reader.GetError()));
		return;
	}
	QList<FPakEntryInfo> Entries = Reader.GetEntries();
	qint64 Bytes = 0;
	// Full paths, folded as the engine's file lookups fold them.
	QHash<QString, qsizetype> ByPath;
	for (qsizetype Index = 0; Index < Entries.size(); ++Index)
	{
		if (!Reader.VerifyEntry(Entries[Index]))
		{
			Fail(QStringLiteral("the pak failed its hash check: %1").arg(Reader.GetError()));
			return;
		}
		Bytes += Entries[Index].UncompressedSize;
		ByPath.insert((Reader.GetMountPoint() + Entries[Index].Path).toLower(), Index);
	}
	UE_LOG(LogPakFile, Display,
	       PakFormat::Printable(QStringLiteral("Mounted %1 at %2: %3 files, %4 bytes, every hash verified")
	                                .arg(Line.PakPath, Reader.GetMountPoint())
	                                .arg(Entries.size())
	                                .arg(Bytes)));

	const auto FileOf = [](const QString& PackageName, const char* Extension) -> QString
	{ return ClientContent + PackageName.mid(6) + QLatin1String(Extension); };
	const QString LevelFile = FileOf(LevelPackage, ".umap");
	const auto Found = ByPath.constFind(LevelFile.toLower());
	if (Found == ByPath.constEnd())
	{
		Fail(QStringLiteral("the level %1 is not in the pak (no %2)").arg(LevelPackage, LevelFile));
		return;
	}
	FPakEntryInfo& LevelEntry = Entries[*Found];
	QByteArray LevelBytes;
	if (!Reader.ReadEntry(LevelEntry, MaxLevelBytes, LevelBytes))
	{
		Fail(QStringLiteral("cannot load the level %1: %2").arg(LevelPackage, Reader.GetError()));
		return;
	}
	QString ParseError;
	const std::optional<FPackageFile> Level = FPackageFile::Parse(LevelBytes, &ParseError);
	if (!Level)
	{
		Fail(QStringLiteral("cannot load the level %1: %2").arg(LevelPackage, ParseError));
		return;
	}
	const FClassTable Classes;
	if (!Level->IsLevel(Classes))
	{
		Fail(QStringLiteral("%1 is not a level: its main asset is a %2")
		         .arg(LevelPackage, Level->Assets.value(0).ClassPath));
		return;
	}
	// What the level cannot load without must have come with it; engine and code packages are
	// the client's own.
	int Needed = 0;
	for (const QString& Dependency : Level->HardDependencies)
	{
		if (!Dependency.startsWith(QLatin1String("/Game/"), Qt::CaseInsensitive))
		{
			continue;
		}
		++Needed;
		if (!ByPath.contains(FileOf(Dependency, ".uasset").toLower()) &&
		    !ByPath.contains(FileOf(Dependency, ".umap").toLower()))
		{
			Fail(QStringLiteral("the level %1 needs %2, which is not in the pak").arg(LevelPackage, Dependency));
			return;
		}
	}
	UE_LOG(LogWorld, Display,
	       PakFormat::Printable(
	           QStringLiteral("Loaded the level %1 (%2, %3 bytes); the %4 packages it needs are in the pak")
	               .arg(LevelPackage, LevelEntry.Path)
	               .arg(LevelEntry.Size)
	               .arg(Needed)));
	Succeed(LevelPackage);
}

void FOrvaClient::Fail(const QString& Reason, int ExitCode)
{
	if (bDone)
	{
		return;
	}
	bDone = true;
	UE_LOG(LogInit, Error,
	       PakFormat::Printable(QStringLiteral("Verdict: world %1 cannot be played: %2")
	                                .arg(Line.WorldId.isEmpty() ? QStringLiteral("(none)") : Line.WorldId, Reason)));
	Q_EMIT Finished(ExitCode);
}

void FOrvaClient::Succeed(const QString& Level)
{
	bDone = true;
	UE_LOG(LogInit, Display,
	       PakFormat::Printable(QStringLiteral("Verdict: world %1 \"%2\" can be played: level %3 from %4")
	                                .arg(Line.WorldId, WorldName, Level, Line.PakPath)));
	Q_EMIT Finished(ExitPlayable);
}

namespace OrvaClientPaths
{

QString ClientRoot(const QString& ExecutableDir)
{
	QDir Dir(ExecutableDir);
	const QString Platform = Dir.dirName();
	if (Dir.cdUp() && Dir.dirName() == QLatin1String("Binaries") && !Platform.isEmpty() && Dir.cdUp())
	{
		return Dir.absolutePath();
	}
	return QDir(ExecutableDir).absolutePath();
}

QString LogFile(const QString& ExecutableDir)
{
	return ClientRoot(ExecutableDir) + QStringLiteral("/Saved/Logs/ORVAClient.log");
}

QString ServiceBaseUrl()
{
	FConfigCache Config;
	const QString Url = OrvaSDKSettings::ServiceBaseUrl.Get(
	    Config, OrvaSDKSettings::SettingsFilePath(FPaths::DefaultUserSettingsDir()));
	const QUrl Parsed(Url, QUrl::StrictMode);
	const QString Scheme = Parsed.scheme().toLower();
	if (Url.isEmpty() || !Parsed.isValid() || Parsed.host().isEmpty() ||
	    (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) || !Url.endsWith(QLatin1Char('/')))
	{
		if (!Url.isEmpty())
		{
			UE_LOG(LogOnline, Warning,
			       PakFormat::Printable(
			           QStringLiteral("Ignoring ServiceBaseUrl \"%1\": not an absolute http or https address ending "
			                          "with \"/\"")
			               .arg(Url)));
		}
		return OrvaSDKSettings::ServiceBaseUrl.Default();
	}
	return Url;
}

} // namespace OrvaClientPaths
