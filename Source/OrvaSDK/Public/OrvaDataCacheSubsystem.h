#pragma once

#include "OrvaSDKSubsystem.h"

#include <QList>

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
	const QList<FOrvaWorldDataPtr>& GetWorldList() const { return WorldList; }
#endif
	// The workspace record of a world identifier (compared ignoring case), or null.
	FWorkspaceDataPtr GetWorkspace(const QString& WorldIdentifier) const;
	// Copies the record's fields, all but bIsPublic, into the cached record of the same identifier.
	Q_INVOKABLE bool UpdateCachedWorkspace(const FWorkspaceData& Workspace);
	const QList<FWorkspaceDataPtr>& GetWorkspaceList() const { return WorkspaceList; }

	// Screenshot list of the current world; its last entry is always the placeholder.
	Q_INVOKABLE void InitCurrImageList();
	void SetCurrImageList(const QList<FOrvaImageDataPtr>& ImageList);
	const QList<FOrvaImageDataPtr>& GetCurrImageList() const;

	// Copies of the lists, for reflection-driven callers (automation, Blueprint-like scripts).
	Q_INVOKABLE QList<FOrvaWorldData> GetWorlds() const;
	Q_INVOKABLE QList<FWorkspaceData> GetWorkspaces() const;
	Q_INVOKABLE QList<FOrvaImageData> GetImages() const;
	Q_INVOKABLE FWorkspaceData FindWorkspace(const QString& WorldIdentifier) const;

private:
	void RecordWorkspaceByWorldData(const FOrvaWorldDataPtr& World);

	QList<FOrvaWorldDataPtr> WorldList;
	QList<FOrvaImageDataPtr> CurrImageList;
	QList<FWorkspaceDataPtr> WorkspaceList;
};
