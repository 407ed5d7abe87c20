#include "OrvaDataCacheSubsystem.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "ImageWrapper.h"
#include "Log.h"
#include "OrvaAsyncImageDownloader.h"
#include "OrvaAsyncImageUploader.h"
#include "OrvaSDKSettings.h"
#include "Paths.h"
#include "Texture.h"

#include <QSet>

namespace
{
// The engine's string equality: same length, equal ignoring case.
bool SameIdentifier(const QString& A, const QString& B)
{
	return A.compare(B, Qt::CaseInsensitive) == 0;
}

// Image names are map keys compared ignoring case.
QString ImageKey(const QString& Name)
{
	return Name.toCaseFolded();
}
} // namespace

UOrvaDataCacheSubsystem::UOrvaDataCacheSubsystem() = default;
UOrvaDataCacheSubsystem::~UOrvaDataCacheSubsystem() = default;

void UOrvaDataCacheSubsystem::Initialize(FSubsystemCollection&)
{
	WorldList.clear();
	WorldList.append(std::make_shared<FOrvaWorldData>());
	InitCurrImageList();
}

void UOrvaDataCacheSubsystem::Deinitialize() {}

void UOrvaDataCacheSubsystem::CleanWorldData()
{
	WorldList.clear();
	WorldList.append(std::make_shared<FOrvaWorldData>());
}

void UOrvaDataCacheSubsystem::AddWorldData(const FOrvaWorldDataPtr& World)
{
	if (!World)
	{
		return;
	}
	WorldList.append(World);
	RecordWorkspaceByWorldData(World);
}

FWorkspaceDataPtr UOrvaDataCacheSubsystem::GetWorkspace(const QString& WorldIdentifier) const
{
	for (const FWorkspaceDataPtr& Workspace : WorkspaceList)
	{
		if (Workspace && SameIdentifier(Workspace->WorldIdentifier, WorldIdentifier))
		{
			return Workspace;
		}
	}
	return nullptr;
}

bool UOrvaDataCacheSubsystem::UpdateCachedWorkspace(const FWorkspaceData& Workspace)
{
	const FWorkspaceDataPtr Cached = GetWorkspace(Workspace.WorldIdentifier);
	if (!Cached)
	{
		return false;
	}
	Cached->WorldId = Workspace.WorldId;
	Cached->WorldIdentifier = Workspace.WorldIdentifier;
	Cached->TitleName = Workspace.TitleName;
	Cached->Description = Workspace.Description;
	Cached->ObjectPath = Workspace.ObjectPath;
	Cached->bEditable = Workspace.bEditable;
	Cached->Progress = Workspace.Progress;
	return true;
}

void UOrvaDataCacheSubsystem::RecordWorkspaceByWorldData(const FOrvaWorldDataPtr& World)
{
	auto Workspace = std::make_shared<FWorkspaceData>();
	if (GetWorkspace(World->Identifier))
	{
		return;
	}
	Workspace->WorldId = World->Id;
	Workspace->WorldIdentifier = World->Identifier;
	Workspace->TitleName = World->Name;
	Workspace->Description = World->Description;
	Workspace->bIsPublic = World->bIsPublic;
	Workspace->ObjectPath.Reset();
	Workspace->Progress = EOrvaSDKProgress::None;

	const FPaths& Paths = GetHost()->Paths();
	// An identifier that cannot name a folder never reaches the file system.
	const bool bSafe = UOrvaSDKSubsystem::IsSafeIdentifier(Workspace->WorldIdentifier);
	const QString Folder = FPaths::Combine(Paths.ProjectContentDir(), Workspace->WorldIdentifier);
	Workspace->bEditable = bSafe && FPaths::DirectoryExists(Folder);

	FConfigCache* Config = GetHost()->GetConfig();
	if (Workspace->bEditable && Config)
	{
		const FSoftObjectPath Level(OrvaSDKSettings::Path.Get(
		    *Config, OrvaSDKSettings::WorldInfoFilePath(Paths.ProjectContentDir(), Workspace->WorldIdentifier)));
		if (Level.IsAsset())
		{
			Workspace->ObjectPath = Level;
		}
	}
	WorkspaceList.append(Workspace);
}

void UOrvaDataCacheSubsystem::InitCurrImageList()
{
	CurrImageList.clear();
	CurrImageList.append(std::make_shared<FOrvaImageData>());
	AddedImages.clear();
}

void UOrvaDataCacheSubsystem::SetCurrImageList(const QList<FOrvaImageDataPtr>& ImageList)
{
	QSet<QString> Answered;
	for (const FOrvaImageDataPtr& Image : ImageList)
	{
		if (Image && !Image->Id.isEmpty())
		{
			Answered.insert(Image->Id);
		}
	}
	QList<FOrvaImageDataPtr> Kept;
	for (const FOrvaImageDataPtr& Added : std::as_const(AddedImages))
	{
		// Gone from the list meanwhile (another world's list replaced it), or known to the service.
		if (CurrImageList.contains(Added) && !Answered.contains(Added->Id))
		{
			Kept.append(Added);
		}
	}
	AddedImages = Kept;
	CurrImageList = ImageList;
	CurrImageList.append(Kept);
	CurrImageList.append(std::make_shared<FOrvaImageData>());
}

void UOrvaDataCacheSubsystem::BeginImageListFetch(const QString& World)
{
	if (World.compare(AddedImagesWorld, Qt::CaseInsensitive) != 0)
	{
		AddedImages.clear();
		AddedImagesWorld = World;
	}
}

const QList<FOrvaImageDataPtr>& UOrvaDataCacheSubsystem::GetCurrImageList() const
{
	UE_LOG(LogTemp, Warning, QStringLiteral("ImageList Generated"));
	return CurrImageList;
}

QList<FOrvaWorldData> UOrvaDataCacheSubsystem::GetWorlds() const
{
	QList<FOrvaWorldData> Out;
	for (const FOrvaWorldDataPtr& World : WorldList)
	{
		Out.append(World ? *World : FOrvaWorldData());
	}
	return Out;
}

QList<FWorkspaceData> UOrvaDataCacheSubsystem::GetWorkspaces() const
{
	QList<FWorkspaceData> Out;
	for (const FWorkspaceDataPtr& Workspace : WorkspaceList)
	{
		if (Workspace)
		{
			Out.append(*Workspace);
		}
	}
	return Out;
}

QList<FOrvaImageData> UOrvaDataCacheSubsystem::GetImages() const
{
	QList<FOrvaImageData> Out;
	for (const FOrvaImageDataPtr& Image : CurrImageList)
	{
		Out.append(Image ? *Image : FOrvaImageData());
	}
	return Out;
}

FWorkspaceData UOrvaDataCacheSubsystem::FindWorkspace(const QString& WorldIdentifier) const
{
	const FWorkspaceDataPtr Workspace = GetWorkspace(WorldIdentifier);
	return Workspace ? *Workspace : FWorkspaceData();
}

const QList<FOrvaImageDataPtr>& UOrvaDataCacheSubsystem::CheckPreviewImageList(const QString& WorldIdentifier)
{
	CurrImageList.clear();
	for (const FOrvaWorldDataPtr& World : WorldList)
	{
		if (World && SameIdentifier(World->Identifier, WorldIdentifier))
		{
			CurrImageList = World->PreviewImages;
			break;
		}
	}
	CurrImageList.append(std::make_shared<FOrvaImageData>());
	return CurrImageList;
}

void UOrvaDataCacheSubsystem::BindReceiver(UOrvaAsyncImageDownloader* Downloader,
                                           const std::shared_ptr<IImageReceiver>& Receiver)
{
	const std::weak_ptr<IImageReceiver> Weak = Receiver;
	auto Deliver = [Weak](UTexture2DDynamic* Texture)
	{
		if (const std::shared_ptr<IImageReceiver> Alive = Weak.lock())
		{
			Alive->OnRemoteImageLoaded(Texture);
		}
	};
	connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded, Downloader, Deliver);
	connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, Downloader, Deliver);
}

void UOrvaDataCacheSubsystem::GetImage(const std::shared_ptr<IImageReceiver>& Receiver)
{
	if (!Receiver)
	{
		return;
	}
	const QString Name = Receiver->GetImageUrl();
	const QString Key = ImageKey(Name);
	if (Name.startsWith(QLatin1String("http"), Qt::CaseInsensitive))
	{
		if (UTexture2DDynamic* Cached = ImageCache.value(Key))
		{
			Receiver->OnRemoteImageLoaded(Cached);
			return;
		}
		if (UOrvaAsyncImageDownloader* Running = Downloaders.value(Key))
		{
			// Ended but not yet cached: a listener of that download asking again from its callback.
			if (Running->HasEnded() && Running->GetTexture())
			{
				Receiver->OnRemoteImageLoaded(Running->GetTexture());
				return;
			}
			BindReceiver(Running, Receiver);
			return;
		}
		auto* Downloader = new UOrvaAsyncImageDownloader(*GetHost(), this);
		BindReceiver(Downloader, Receiver);
		Downloader->OnImageCached.BindUObject(this, [this](QString URL, UTexture2DDynamic* Texture)
		                                      { DownloadImageSuccess(std::move(URL), Texture); });
		connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, this,
		        [this, Name](UTexture2DDynamic* Texture) { DownloadImageFailed(Name, Texture); });
		Downloaders.insert(Key, Downloader);
		Downloader->Start(Name);
		return;
	}
	if (UTexture2D* Cached = LocalImageCache.value(Key))
	{
		Receiver->OnLocalImageLoaded(Cached);
		return;
	}
	if (UTexture2D* Imported = FImageUtils::ImportFileAsTexture2D(Name, this))
	{
		LocalImageCache.insert(Key, Imported);
		Receiver->OnLocalImageLoaded(Imported);
	}
}

void UOrvaDataCacheSubsystem::DownloadImageSuccess(QString URL, UTexture2DDynamic* Texture)
{
	if (!Texture)
	{
		return;
	}
	// The cache keeps the texture for as long as it lives, whatever becomes of its downloader.
	Texture->setParent(this);
	ImageCache.insert(ImageKey(URL), Texture);
}

void UOrvaDataCacheSubsystem::DownloadImageFailed(QString URL, UTexture2DDynamic*)
{
	const QString Key = ImageKey(URL);
	auto* Failed = qobject_cast<UOrvaAsyncImageDownloader*>(sender());
	UOrvaAsyncImageDownloader* Known = Downloaders.value(Key);
	if (Known && (!Failed || Known == Failed))
	{
		Downloaders.remove(Key);
		// Its other listeners are still being called: it goes once the event is over.
		Known->deleteLater();
	}
}

void UOrvaDataCacheSubsystem::AddNewLocalImage(const QString& LocalPath)
{
	// Added again: this upload decides anew.
	RefusedLocalImages.remove(LocalPath.toCaseFolded());
	auto Image = std::make_shared<FOrvaImageData>();
	Image->Url = LocalPath;
	if (CurrImageList.isEmpty())
	{
		CurrImageList.append(std::make_shared<FOrvaImageData>());
	}
	CurrImageList.insert(CurrImageList.size() - 1, Image);
	AddedImages.append(Image);
	UOrvaAsyncImageUploader* Uploader = UOrvaAsyncImageUploader::UploadImage(*GetHost(), LocalPath);
	connect(Uploader, &UOrvaAsyncImageUploader::OnUploadSucceeded, this,
	        [this](FOrvaImageData ImageData) { UploadImageSuccess(std::move(ImageData)); });
	connect(Uploader, &UOrvaAsyncImageUploader::OnUploadFailed, this,
	        [this, LocalPath](const FOrvaImageData&) { UploadImageFailed(LocalPath); });
}

FOrvaImageDataPtr UOrvaDataCacheSubsystem::GetLocalImageData(const QString& LocalPath) const
{
	FOrvaImageDataPtr Found;
	GetLocalImageData(LocalPath, Found);
	return Found;
}

qint32 UOrvaDataCacheSubsystem::GetLocalImageData(const QString& LocalPath, FOrvaImageDataPtr& OutImageData) const
{
	for (qsizetype Index = 0; Index < CurrImageList.size(); ++Index)
	{
		const FOrvaImageDataPtr& Image = CurrImageList[Index];
		if (Image && SameIdentifier(Image->Url, LocalPath))
		{
			OutImageData = Image;
			return qint32(Index);
		}
	}
	return -1;
}

void UOrvaDataCacheSubsystem::UploadImageSuccess(FOrvaImageData ImageData)
{
	FOrvaImageDataPtr Local;
	const qint32 Index = GetLocalImageData(ImageData.Url, Local);
	if (Local)
	{
		Local->Id = ImageData.Id;
		Local->Name = ImageData.Name;
		Local->Size = ImageData.Size;
	}
	// An answer without an id stored nothing: there is no image to make the title image.
	if (Index == 0 && !ImageData.Id.isEmpty())
	{
		if (UOrvaSDKSubsystem* Sdk = GetHost()->GetEditorSubsystem<UOrvaSDKSubsystem>())
		{
			Sdk->SetTitleImage(ImageData.Id);
		}
	}
	Q_EMIT OnImageUploadEnded(Local ? *Local : ImageData);
}

void UOrvaDataCacheSubsystem::UploadImageFailed(const QString& LocalPath)
{
	RefusedLocalImages.insert(LocalPath.toCaseFolded());
	FOrvaImageDataPtr Local;
	GetLocalImageData(LocalPath, Local);
	// Not stored: a later list answer has nothing to wait for.
	AddedImages.removeOne(Local);
	FOrvaImageData Ended;
	Ended.Url = LocalPath;
	Q_EMIT OnImageUploadEnded(Local ? *Local : Ended);
}
