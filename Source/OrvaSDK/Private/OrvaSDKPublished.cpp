// Nothing is sent twice: what the service confirmed holding complete is remembered beside the
// level's build, and a build that gives the same paks again keeps those components.

#include "OrvaSDKSubsystem.h"

#include "FileDigest.h"
#include "FileHelper.h"
#include "Json.h"
#include "Log.h"
#include "OrvaActivityModel.h"
#include "Paths.h"
#include "ThreadPool.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
const QString PublishedFileName = QStringLiteral("Published.json");

// Streamed: paks may be larger than memory. Empty when the file cannot be read whole.
QString Sha256OfFile(const QString& Path)
{
	return QString::fromLatin1(DigestOfFile(EDigestKind::Sha256, Path).toHex());
}

QString CheckCodeOfBuild(const QString& LevelFolder, const QString& Level)
{
	QFile File(FPaths::Combine(LevelFolder, Level + QStringLiteral("_PakVersion.json")));
	if (!File.open(QIODevice::ReadOnly))
	{
		return QString();
	}
	const std::optional<QJsonObject> Version = FJson::ParseObject(File.readAll());
	return Version ? FJson::GetString(*Version, QStringLiteral("CheckCode")) : QString();
}

QString RegisteredComponentId(const QString& PlatformFolder)
{
	QFile File(FPaths::Combine(PlatformFolder, QStringLiteral("Component.json")));
	if (!File.open(QIODevice::ReadOnly))
	{
		return QString();
	}
	const std::optional<QJsonObject> Info = FJson::ParseObject(File.readAll());
	return Info ? FJson::GetString(*Info, QStringLiteral("ComponentId")) : QString();
}
} // namespace

QHash<QString, UOrvaSDKSubsystem::FPublishedPak> UOrvaSDKSubsystem::LoadPublishedRecord(const QString& LevelFolder)
{
	QHash<QString, FPublishedPak> Record;
	QFile File(FPaths::Combine(LevelFolder, PublishedFileName));
	if (!File.open(QIODevice::ReadOnly))
	{
		return Record;
	}
	const std::optional<QJsonObject> Root = FJson::ParseObject(File.readAll());
	if (!Root)
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("%1 is not a JSON object: the next build registers its paks anew").arg(File.fileName()));
		return Record;
	}
	const QJsonObject Platforms = Root->value(QStringLiteral("Platforms")).toObject();
	for (auto It = Platforms.constBegin(); It != Platforms.constEnd(); ++It)
	{
		const QJsonObject Entry = It.value().toObject();
		FPublishedPak Published;
		Published.ComponentId = FJson::GetString(Entry, QStringLiteral("ComponentId"));
		Published.Sha256 = FJson::GetString(Entry, QStringLiteral("Sha256"));
		Published.Size = Entry.value(QStringLiteral("Size")).toInteger(-1);
		Published.CheckCode = FJson::GetString(Entry, QStringLiteral("CheckCode"));
		Published.PublishedAt = FJson::GetString(Entry, QStringLiteral("PublishedAt"));
		// An entry that cannot name its pak, or lacks what the comparison needs, keeps nothing.
		if (IsSafeIdentifier(It.key()) && IsSafeIdentifier(Published.ComponentId) && Published.Sha256.size() == 64 &&
		    Published.Size >= 0 && !Published.CheckCode.isEmpty())
		{
			Record.insert(It.key(), Published);
		}
	}
	return Record;
}

void UOrvaSDKSubsystem::RecordPublishedPak(const QString& PakPath, const QString& ComponentId, const QString& CheckCode)
{
	if (CheckCode.isEmpty() || QFileInfo(PakPath).completeBaseName() != ComponentId)
	{
		return;
	}
	const FWeakContext Context(this);
	AsyncTask(ENamedThreads::AnyThread, Context,
	          [this, Context, PakPath, ComponentId, CheckCode]
	          {
		          FPublishedPak Published;
		          Published.ComponentId = ComponentId;
		          Published.CheckCode = CheckCode;
		          Published.Size = QFileInfo(PakPath).size();
		          Published.Sha256 = Sha256OfFile(PakPath);
		          AsyncTask(ENamedThreads::GameThread, Context,
		                    [this, PakPath, Published] { WritePublishedPak(PakPath, Published); });
	          });
}

void UOrvaSDKSubsystem::WritePublishedPak(const QString& PakPath, const FPublishedPak& Published)
{
	if (Published.Sha256.isEmpty())
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("Cannot read %1: its publish is not remembered, the next build registers anew")
		           .arg(PakPath));
		return;
	}
	const QString PlatformFolder = FPaths::GetPath(PakPath);
	const QString Platform = FPaths::GetCleanFilename(PlatformFolder);
	const QString LevelFolder = FPaths::GetPath(PlatformFolder);
	const QString RecordPath = FPaths::Combine(LevelFolder, PublishedFileName);

	QJsonObject Root;
	QFile Existing(RecordPath);
	if (Existing.open(QIODevice::ReadOnly))
	{
		Root = FJson::ParseObject(Existing.readAll()).value_or(QJsonObject());
	}
	QJsonObject Platforms = Root.value(QStringLiteral("Platforms")).toObject();
	// A publish that found the component complete already keeps the time it was first confirmed.
	const QJsonObject Earlier = Platforms.value(Platform).toObject();
	QString PublishedAt = FJson::GetString(Earlier, QStringLiteral("PublishedAt"));
	if (PublishedAt.isEmpty() || FJson::GetString(Earlier, QStringLiteral("ComponentId")) != Published.ComponentId ||
	    FJson::GetString(Earlier, QStringLiteral("Sha256")) != Published.Sha256)
	{
		PublishedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
	}
	Platforms.insert(Platform, QJsonObject{{QStringLiteral("ComponentId"), Published.ComponentId},
	                                       {QStringLiteral("Sha256"), Published.Sha256},
	                                       {QStringLiteral("Size"), Published.Size},
	                                       {QStringLiteral("CheckCode"), Published.CheckCode},
	                                       {QStringLiteral("PublishedAt"), PublishedAt}});
	Root.insert(QStringLiteral("Platforms"), Platforms);
	QString Reason;
	if (!FFileHelper::SaveArrayToFile(QJsonDocument(Root).toJson(QJsonDocument::Indented), RecordPath, &Reason))
	{
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("Cannot write %1: %2; the next build of the level registers anew").arg(RecordPath, Reason));
		return;
	}
	if (Activity)
	{
		// The level's folder lies in the world's own folder, named by its identifier.
		Activity->NotifyOutcomeRecorded(FPaths::GetCleanFilename(FPaths::GetPath(LevelFolder)));
	}
}

void UOrvaSDKSubsystem::RegisterUnlessPublished(const FWorkspaceData& Built)
{
	auto Register = [this, Built]
	{
		InitUploadFor(Built);
		UpdateProgress(EOrvaSDKProgress::AssetPakSuccess);
	};
	const QString WorldRoot = GetWorldOutputRoot(Built.WorldIdentifier);
	const QString Level = Built.ObjectPath.GetAssetName();
	if (WorldRoot.isEmpty() || !IsSafeIdentifier(Level) || TargetPlatforms.isEmpty())
	{
		Register();
		return;
	}
	const QString LevelFolder = FPaths::Combine(WorldRoot, Level);
	const QHash<QString, FPublishedPak> Record = LoadPublishedRecord(LevelFolder);
	const QString CheckCode = CheckCodeOfBuild(LevelFolder, Level);

	struct FCandidate
	{
		QString NewPak;
		QString KeptPak;
		QString Sha256;
	};
	QList<FCandidate> Candidates;
	// The cheap tests first: only paks that may be the same are hashed.
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		const auto Found = Record.constFind(Platform);
		if (Found == Record.cend() || CheckCode.isEmpty() || Found->CheckCode != CheckCode)
		{
			Register();
			return;
		}
		const QString PlatformFolder = FPaths::Combine(LevelFolder, Platform);
		const QString NewPak = GetPakPathByPakName(Level + QLatin1Char('_') + Platform, Built.WorldIdentifier);
		const QString KeptPak = FPaths::Combine(PlatformFolder, Found->ComponentId + QStringLiteral(".pak"));
		// Publish uploads what Component.json names: it must still name the published component.
		if (RegisteredComponentId(PlatformFolder) != Found->ComponentId || QFileInfo(NewPak).size() != Found->Size ||
		    QFileInfo(KeptPak).size() != Found->Size)
		{
			Register();
			return;
		}
		Candidates.append(FCandidate{NewPak, KeptPak, Found->Sha256});
	}

	const FWeakContext Context(this);
	AsyncTask(ENamedThreads::AnyThread, Context,
	          [this, Context, Candidates, Built, Register]
	          {
		          bool bSame = true;
		          for (const FCandidate& Candidate : Candidates)
		          {
			          bSame = bSame && Sha256OfFile(Candidate.NewPak) == Candidate.Sha256;
		          }
		          AsyncTask(ENamedThreads::GameThread, Context,
		                    [this, bHashesMatch = bSame, Candidates, Built, Register]
		                    {
			                    bool bSame = bHashesMatch;
			                    for (const FCandidate& Candidate : Candidates)
			                    {
				                    bSame = bSame && QFileInfo::exists(Candidate.KeptPak);
			                    }
			                    if (!bSame)
			                    {
				                    Register();
				                    return;
			                    }
			                    QStringList Kept;
			                    for (const FCandidate& Candidate : Candidates)
			                    {
				                    // The very bytes are there already, under the component's name.
				                    QFile::remove(Candidate.NewPak);
				                    Kept.append(QFileInfo(Candidate.KeptPak).completeBaseName());
			                    }
			                    UE_LOG(LogTemp, Display,
			                           QStringLiteral("No changes since the last publish of %1: kept the components %2")
			                               .arg(Built.WorldIdentifier, Kept.join(QStringLiteral(", "))));
			                    UpdateProgress(EOrvaSDKProgress::AssetPakSuccess);
			                    IdentInProgress.clear();
			                    Q_EMIT OnBuildUnchanged(Built.WorldIdentifier);
		                    });
	          });
}
