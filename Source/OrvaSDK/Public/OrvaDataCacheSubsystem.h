#pragma once

#include "IImageReceiver.h"
#include "OrvaSDKSubsystem.h"

#include <QHash>
#include <QList>
#include <QSet>

class UOrvaAsyncImageDownloader;
class UTexture2D;
class UTexture2DDynamic;

// The second editor subsystem: an in-memory cache of the world list of the last catalogue answer,
// one workspace record per world ever seen, and the current world's screenshot list. It sends
// nothing to the service itself.
class UOrvaDataCacheSubsystem : public UEditorSubsystem
{
	Q_OBJECT

public:
	UOrvaDataCacheSubsystem();
	~UOrvaDataCacheSubsystem() override;

	void Initialize(FSubsystemCollection& Collection) override;
	void Deinitialize() override;

	// Drops the world list to its placeholder entry; workspace records stay.
	Q_INVOKABLE void CleanWorldData();
	// Appends a world and records a workspace for it when its identifier is new.
	void AddWorldData(const FOrvaWorldDataPtr& World);
	// The placeholder entry first, then the worlds of the last answer.
#ifdef Q_MOC_RUN
	// moc drops results returned by reference, so reflection is told of a copy of the list (the
	// same shared records); C++ callers keep the reference.
	Q_INVOKABLE QList<FOrvaWorldDataPtr> GetWorldList() const;
#else
	const QList<FOrvaWorldDataPtr>& GetWorldList() const
	{
		return WorldList;
	}
#endif
	// The workspace record of a world identifier (compared ignoring case), or null.
	FWorkspaceDataPtr GetWorkspace(const QString& WorldIdentifier) const;
	// Copies the record's fields, all but bIsPublic, into the cached record of the same identifier.
	Q_INVOKABLE bool UpdateCachedWorkspace(const FWorkspaceData& Workspace);
	const QList<FWorkspaceDataPtr>& GetWorkspaceList() const
	{
		return WorkspaceList;
	}

	// Screenshot list of the current world; its last entry is always the placeholder.
	Q_INVOKABLE void InitCurrImageList();
	// The list as the service answered it, followed by the screenshots added here since the fetch
	// of World began that the answer does not hold yet (still uploading, or stored after the
	// service wrote its answer), so that they keep their place and their upload ends on them.
	void SetCurrImageList(const QList<FOrvaImageDataPtr>& ImageList);
	// The screenshot list of World (any key naming one world) is being fetched. Screenshots added
	// for another world are no longer carried over.
	void BeginImageListFetch(const QString& World);
	// Logs "ImageList Generated" on each call.
#ifdef Q_MOC_RUN
	Q_INVOKABLE QList<FOrvaImageDataPtr> GetCurrImageList() const;
#else
	const QList<FOrvaImageDataPtr>& GetCurrImageList() const;
#endif
	const QList<FOrvaImageDataPtr>& CheckPreviewImageList(const QString& WorldIdentifier);

	// Images by name: a web address (downloaded once, then cached) or a local file (imported once).
	// The receiver is called now when the image is cached, else later, or never for a local file
	// that cannot be read. Names compare ignoring case.
	void GetImage(const std::shared_ptr<IImageReceiver>& Receiver);
	// Adds a local screenshot before the placeholder and uploads it; the first one of the list
	// becomes the world's title image once its upload succeeds.
	Q_INVOKABLE void AddNewLocalImage(const QString& LocalPath);
	// The first screenshot whose Url is LocalPath (ignoring case), or null.
	FOrvaImageDataPtr GetLocalImageData(const QString& LocalPath) const;
	// The same search: the index, with the entry in OutImageData; -1 leaves OutImageData as it was.
	qint32 GetLocalImageData(const QString& LocalPath, FOrvaImageDataPtr& OutImageData) const;
	// Whether the upload of that local screenshot ended without the service storing it.
	bool IsLocalImageRefused(const QString& LocalPath) const
	{
		return RefusedLocalImages.contains(LocalPath.toCaseFolded());
	}

	// Copies of the lists, for reflection-driven callers (automation, Blueprint-like scripts).
	Q_INVOKABLE QList<FOrvaWorldData> GetWorlds() const;
	Q_INVOKABLE QList<FWorkspaceData> GetWorkspaces() const;
	Q_INVOKABLE QList<FOrvaImageData> GetImages() const;
	Q_INVOKABLE FWorkspaceData FindWorkspace(const QString& WorldIdentifier) const;

Q_SIGNALS:
	// A screenshot upload started by AddNewLocalImage ended: the entry as it now stands (an empty
	// Id when the service did not store it). Any title image request has been sent by then.
	void OnImageUploadEnded(const FOrvaImageData& ImageData);

private:
	void RecordWorkspaceByWorldData(const FOrvaWorldDataPtr& World);
	void DownloadImageSuccess(QString URL, UTexture2DDynamic* Texture);
	// Forgets the downloader, so that the next request for the address tries again.
	void DownloadImageFailed(QString URL, UTexture2DDynamic* Texture);
	void UploadImageSuccess(FOrvaImageData ImageData);
	void UploadImageFailed(const QString& LocalPath);
	static void BindReceiver(UOrvaAsyncImageDownloader* Downloader, const std::shared_ptr<IImageReceiver>& Receiver);

	QList<FOrvaWorldDataPtr> WorldList;
	QList<FOrvaImageDataPtr> CurrImageList;
	// Screenshots added by AddNewLocalImage that a list answer may not hold yet, and the world
	// whose list they belong to.
	QList<FOrvaImageDataPtr> AddedImages;
	QString AddedImagesWorld;
	QList<FWorkspaceDataPtr> WorkspaceList;
	// Keyed by the case-folded name. Textures and downloaders are children of the cache.
	QHash<QString, UTexture2DDynamic*> ImageCache;
	QHash<QString, UTexture2D*> LocalImageCache;
	QHash<QString, UOrvaAsyncImageDownloader*> Downloaders;
	// Case-folded paths of local screenshots whose upload the service refused (or never answered).
	QSet<QString> RefusedLocalImages;
};
