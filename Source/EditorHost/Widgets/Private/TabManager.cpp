#include "TabManager.h"

#include <QAction>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMenu>

namespace
{
constexpr int DefaultTabWidth = 640;
}

SDockTab::SDockTab(ETabRole InRole, QWidget* Parent)
    : QDockWidget(Parent)
    , Role(InRole)
{
	setAttribute(Qt::WA_DeleteOnClose);
	setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
	connect(this, &QDockWidget::visibilityChanged, this, [this](bool bVisible) { bForeground = bVisible; });
}

void SDockTab::closeEvent(QCloseEvent* Event)
{
	QDockWidget::closeEvent(Event);
	bClosed = Event->isAccepted();
}

void SDockTab::SetContent(QWidget* Content)
{
	QWidget* Old = widget();
	setWidget(Content);
	delete Old;
}

FGlobalTabManager::FGlobalTabManager(QMainWindow* InWindow, QObject* Parent)
    : QObject(Parent)
    , Window(InWindow)
{
}

FGlobalTabManager::~FGlobalTabManager()
{
	for (const QPointer<SDockTab>& Tab : LiveTabs)
	{
		delete Tab.data();
	}
}

FTabSpawnerEntry& FGlobalTabManager::RegisterNomadTabSpawner(const QString& TabId, FOnSpawnTab OnSpawnTab)
{
	std::erase_if(Spawners, [&TabId](const auto& Entry) { return Entry->GetTabId() == TabId; });
	Spawners.push_back(std::make_unique<FTabSpawnerEntry>(TabId, std::move(OnSpawnTab)));
	FTabSpawnerEntry& Entry = *Spawners.back();
	// The caller sets the name and menu type on the returned entry; menus read them when rebuilt.
	QMetaObject::invokeMethod(this, &FGlobalTabManager::SpawnersChanged, Qt::QueuedConnection);
	return Entry;
}

bool FGlobalTabManager::UnregisterNomadTabSpawner(const QString& TabId)
{
	const auto Removed = std::erase_if(Spawners, [&TabId](const auto& Entry) { return Entry->GetTabId() == TabId; });
	if (SDockTab* Tab = FindExistingLiveTab(TabId))
	{
		delete Tab;
	}
	if (Removed > 0)
	{
		Q_EMIT SpawnersChanged();
	}
	return Removed > 0;
}

const FTabSpawnerEntry* FGlobalTabManager::FindSpawner(const QString& TabId) const
{
	for (const auto& Entry : Spawners)
	{
		if (Entry->GetTabId() == TabId)
		{
			return Entry.get();
		}
	}
	return nullptr;
}

QStringList FGlobalTabManager::GetSpawnerIds() const
{
	QStringList Ids;
	for (const auto& Entry : Spawners)
	{
		Ids.append(Entry->GetTabId());
	}
	return Ids;
}

SDockTab* FGlobalTabManager::FindExistingLiveTab(const QString& TabId) const
{
	for (const QPointer<SDockTab>& Tab : LiveTabs)
	{
		if (Tab && !Tab->IsClosed() && Tab->objectName() == TabId)
		{
			return Tab;
		}
	}
	return nullptr;
}

QList<SDockTab*> FGlobalTabManager::GetLiveTabs() const
{
	QList<SDockTab*> Tabs;
	for (const QPointer<SDockTab>& Tab : LiveTabs)
	{
		if (Tab && !Tab->IsClosed())
		{
			Tabs.append(Tab);
		}
	}
	return Tabs;
}

SDockTab* FGlobalTabManager::TryInvokeTab(const QString& TabId)
{
	LiveTabs.removeAll(nullptr);
	if (SDockTab* Existing = FindExistingLiveTab(TabId))
	{
		Existing->show();
		Existing->raise();
		if (QWidget* Content = Existing->widget())
		{
			Content->setFocus(Qt::OtherFocusReason);
		}
		return Existing;
	}
	const FTabSpawnerEntry* Spawner = FindSpawner(TabId);
	if (!Spawner)
	{
		return nullptr;
	}
	SDockTab* Tab = Spawner->Spawn(FSpawnTabArgs{TabId});
	if (!Tab)
	{
		return nullptr;
	}
	Tab->setObjectName(TabId);
	Tab->setWindowTitle(Spawner->GetDisplayName().ToString());
	LiveTabs.append(Tab);
	if (Window)
	{
		// New tabs join the tabs already docked, in front of them.
		const QList<SDockTab*> Docked = GetLiveTabs();
		Window->addDockWidget(Qt::RightDockWidgetArea, Tab);
		for (SDockTab* Other : Docked)
		{
			if (Other != Tab && !Other->isFloating() && Window->dockWidgetArea(Other) == Qt::RightDockWidgetArea)
			{
				Window->tabifyDockWidget(Other, Tab);
				break;
			}
		}
		// Room for the content, as a tab opened in its own window would have.
		Window->resizeDocks({Tab}, {qMax(Tab->sizeHint().width(), DefaultTabWidth)}, Qt::Horizontal);
	}
	Tab->show();
	Tab->raise();
	return Tab;
}

QList<const FTabSpawnerEntry*> FGlobalTabManager::GetListedSpawners() const
{
	QList<const FTabSpawnerEntry*> Listed;
	for (const auto& Entry : Spawners)
	{
		if (Entry->GetMenuType() != ETabSpawnerMenuType::Hidden)
		{
			Listed.append(Entry.get());
		}
	}
	return Listed;
}

void FGlobalTabManager::PopulateTabSpawnerMenu(QMenu* Menu)
{
	for (const FTabSpawnerEntry* Entry : GetListedSpawners())
	{
		QAction* Action = Menu->addAction(Entry->GetDisplayName().ToString());
		Action->setObjectName(Entry->GetTabId());
		Action->setEnabled(Entry->GetMenuType() == ETabSpawnerMenuType::Enabled);
		const QString TabId = Entry->GetTabId();
		connect(Action, &QAction::triggered, this, [this, TabId] { TryInvokeTab(TabId); });
	}
}
