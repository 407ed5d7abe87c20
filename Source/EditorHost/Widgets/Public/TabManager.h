#pragma once

#include "Text.h"

#include <QDockWidget>
#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QMenu;

enum class ETabRole
{
	MajorTab,
	PanelTab,
	NomadTab,
	DocumentTab
};

// Whether the tab manager's own menus list a spawner.
enum class ETabSpawnerMenuType
{
	Enabled,
	Disabled,
	Hidden
};

// A tab: a dock widget of the editor window. Closing it destroys it and its content.
class SDockTab : public QDockWidget
{
	Q_OBJECT

public:
	explicit SDockTab(ETabRole InRole = ETabRole::NomadTab, QWidget* Parent = nullptr);

	ETabRole GetTabRole() const { return Role; }
	// The tab takes ownership of Content.
	void SetContent(QWidget* Content);
	QWidget* GetContent() const { return widget(); }
	QString GetLayoutIdentifier() const { return objectName(); }
	// Whether the tab is the one shown in its dock area (not hidden behind another tab).
	bool IsForeground() const { return bForeground; }
	// Closed and waiting to be deleted: no longer the id's live tab.
	bool IsClosed() const { return bClosed; }

protected:
	void closeEvent(QCloseEvent* Event) override;

private:
	ETabRole Role;
	bool bForeground = false;
	bool bClosed = false;
};

struct FSpawnTabArgs
{
	QString TabId;
};

using FOnSpawnTab = std::function<SDockTab*(const FSpawnTabArgs&)>;

class FTabSpawnerEntry
{
public:
	FTabSpawnerEntry(const QString& InTabId, FOnSpawnTab InOnSpawnTab)
	    : TabId(InTabId)
	    , OnSpawnTab(std::move(InOnSpawnTab))
	{
	}

	FTabSpawnerEntry& SetDisplayName(const FText& InDisplayName)
	{
		DisplayName = InDisplayName;
		return *this;
	}
	FTabSpawnerEntry& SetMenuType(ETabSpawnerMenuType InMenuType)
	{
		MenuType = InMenuType;
		return *this;
	}

	const QString& GetTabId() const { return TabId; }
	const FText& GetDisplayName() const { return DisplayName; }
	ETabSpawnerMenuType GetMenuType() const { return MenuType; }
	SDockTab* Spawn(const FSpawnTabArgs& Args) const { return OnSpawnTab ? OnSpawnTab(Args) : nullptr; }

private:
	QString TabId;
	FOnSpawnTab OnSpawnTab;
	FText DisplayName;
	ETabSpawnerMenuType MenuType = ETabSpawnerMenuType::Enabled;
};

// The editor's nomad tab spawners by id, and the tabs they spawned: at most one live tab per id,
// docked into the editor window.
class FGlobalTabManager : public QObject
{
	Q_OBJECT

public:
	explicit FGlobalTabManager(QMainWindow* InWindow = nullptr, QObject* Parent = nullptr);
	~FGlobalTabManager() override;

	void SetMainWindow(QMainWindow* InWindow) { Window = InWindow; }
	QMainWindow* GetMainWindow() const { return Window; }

	// A second spawner under an id replaces the first.
	FTabSpawnerEntry& RegisterNomadTabSpawner(const QString& TabId, FOnSpawnTab OnSpawnTab);
	// Closes the id's live tab too: its content came from the spawner's owner, which is going away.
	bool UnregisterNomadTabSpawner(const QString& TabId);
	bool HasTabSpawner(const QString& TabId) const { return FindSpawner(TabId) != nullptr; }
	const FTabSpawnerEntry* FindSpawner(const QString& TabId) const;
	QStringList GetSpawnerIds() const;

	// Opens the tab, or brings the open one to front. Null when no spawner is registered or the
	// spawner made none.
	SDockTab* TryInvokeTab(const QString& TabId);
	SDockTab* FindExistingLiveTab(const QString& TabId) const;
	QList<SDockTab*> GetLiveTabs() const;

	// The spawners the tab manager's own menus list: menu type Enabled or Disabled, in order.
	QList<const FTabSpawnerEntry*> GetListedSpawners() const;
	// One action per listed spawner, invoking it; the actions belong to Menu.
	void PopulateTabSpawnerMenu(QMenu* Menu);

Q_SIGNALS:
	void SpawnersChanged();

private:
	QPointer<QMainWindow> Window;
	std::vector<std::unique_ptr<FTabSpawnerEntry>> Spawners;
	QList<QPointer<SDockTab>> LiveTabs;
};
