#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

class FEditorServices;
struct UWorld;
class QMenu;
class SNotificationList;
class QToolBar;

// How the level editor's map changed, as its map-changed notification tells it.
enum class EMapChangeType : quint8
{
	LoadMap,
	SaveMap,
	NewMap,
	TearDownWorld
};

// The level editor's main window: a menu bar whose Window menu lists the tab manager's listed
// spawners followed by the "LevelEditor.MainMenu.Window" tool menu, the play toolbar built from
// "LevelEditor.LevelEditorToolBar.PlayToolBar", and the tabs docked around a viewport. Both are
// built again whenever their menus or the spawners change.
class SLevelEditorWindow : public QMainWindow
{
	Q_OBJECT

public:
	static QString WindowMenuName();
	static QString PlayToolBarName();
	// The tab of the editor's own log.
	static QString OutputLogTabId();

	explicit SLevelEditorWindow(FEditorServices& InServices, QWidget* Parent = nullptr);
	~SLevelEditorWindow() override;

	QMenu* GetWindowMenu() const { return WindowMenu; }
	QToolBar* GetPlayToolBar() const { return PlayToolBar; }
	// The host's notifications drawn as toasts; null without a host.
	SNotificationList* GetNotificationList() const { return Notifications; }
	// The window's action of a tool-menu entry or listed spawner by name, or null.
	QAction* FindWindowMenuAction(const QString& Name) const;
	QAction* FindPlayToolBarAction(const QString& Name) const;

	void RebuildWindowMenu();
	void RebuildPlayToolBar();

protected:
	// Docked tabs keep their share of the window's width as it grows or shrinks.
	void resizeEvent(QResizeEvent* Event) override;

private:
	FEditorServices& Services;
	QMenu* WindowMenu = nullptr;
	QToolBar* PlayToolBar = nullptr;
	SNotificationList* Notifications = nullptr;
};
