#include "LevelEditorWindow.h"

#include "EditorHost.h"
#include "EditorServices.h"
#include "Log.h"
#include "NativeWidgetHost.h"
#include "NotificationList.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace
{
// The editor's log as a tab. Lines may be written on any thread; they are shown on the main one.
class SOutputLog : public QPlainTextEdit, public FLogSink
{
public:
	SOutputLog()
	{
		setReadOnly(true);
		setMaximumBlockCount(5000);
		setObjectName(QStringLiteral("OutputLog"));
		FLog::AddSink(this);
	}
	~SOutputLog() override { FLog::RemoveSink(this); }

	void Receive(const FLogLine& Line) override
	{
		const QString Text = Line.Format();
		QMetaObject::invokeMethod(
		    this, [this, Text] { appendPlainText(Text); }, Qt::QueuedConnection);
	}
};
} // namespace

QString SLevelEditorWindow::WindowMenuName()
{
	return QStringLiteral("LevelEditor.MainMenu.Window");
}

QString SLevelEditorWindow::PlayToolBarName()
{
	return QStringLiteral("LevelEditor.LevelEditorToolBar.PlayToolBar");
}

QString SLevelEditorWindow::OutputLogTabId()
{
	return QStringLiteral("OutputLog");
}

SLevelEditorWindow::SLevelEditorWindow(FEditorServices& InServices, QWidget* Parent)
    : QMainWindow(Parent)
    , Services(InServices)
{
	setObjectName(QStringLiteral("LevelEditor"));
	const FEditorHost* Host = Services.GetHost();
	const QString ProjectName = Host ? Host->Paths().ProjectName() : QString();
	setWindowTitle(ProjectName.isEmpty() ? QStringLiteral("OrvaEditor")
	                                     : ProjectName + QStringLiteral(" - OrvaEditor"));
	resize(1600, 1000);
	setDockNestingEnabled(true);

	QMenu* FileMenu = menuBar()->addMenu(NSLOCTEXT("MainMenu", "FileMenu", "&File").ToString());
	QAction* Exit = FileMenu->addAction(NSLOCTEXT("MainMenu", "Exit", "Exit").ToString());
	connect(Exit, &QAction::triggered, this, &QWidget::close);
	WindowMenu = menuBar()->addMenu(NSLOCTEXT("MainMenu", "WindowMenu", "&Window").ToString());
	WindowMenu->setObjectName(WindowMenuName());

	PlayToolBar = addToolBar(NSLOCTEXT("LevelEditorToolBar", "PlayToolBar", "Play").ToString());
	PlayToolBar->setObjectName(PlayToolBarName());
	PlayToolBar->setMovable(false);
	PlayToolBar->setIconSize(QSize(40, 40));
	PlayToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

	// Where the level viewport would be.
	auto* Viewport = new QLabel(ProjectName);
	Viewport->setObjectName(QStringLiteral("LevelViewport"));
	Viewport->setAlignment(Qt::AlignCenter);
	Viewport->setStyleSheet(QStringLiteral("QLabel { background: #1a1a1a; color: #5a5a5a; font-size: 28px; }"));
	setCentralWidget(Viewport);
	statusBar()->showMessage(Host ? Host->Paths().GetProjectFilePath() : QString());

	Services.TabManager().SetMainWindow(this);
	Services.TabManager()
	    .RegisterNomadTabSpawner(OutputLogTabId(),
	                             [](const FSpawnTabArgs&)
	                             {
		                             auto* Tab = new SDockTab(ETabRole::NomadTab);
		                             Tab->SetContent(new SOutputLog());
		                             return Tab;
	                             })
	    .SetDisplayName(NSLOCTEXT("LevelEditor", "OutputLogTab", "Output Log"))
	    .SetMenuType(ETabSpawnerMenuType::Enabled);

	connect(&Services.ToolMenus(), &FToolMenus::MenuChanged, this,
	        [this](const QString& MenuName)
	        {
		        if (MenuName == WindowMenuName())
		        {
			        RebuildWindowMenu();
		        }
		        else if (MenuName == PlayToolBarName())
		        {
			        RebuildPlayToolBar();
		        }
	        });
	connect(&Services.TabManager(), &FGlobalTabManager::SpawnersChanged, this, &SLevelEditorWindow::RebuildWindowMenu);
	RebuildWindowMenu();
	RebuildPlayToolBar();
	// The designer widgets placed in this window's tabs reach the editor through it.
	UNativeWidgetHost::SetEditorHostOf(this, Services.GetHost());
	if (Services.GetHost())
	{
		Notifications = new SNotificationList(Services.GetHost()->Notifications(), this);
	}
}

SLevelEditorWindow::~SLevelEditorWindow()
{
	Services.TabManager().UnregisterNomadTabSpawner(OutputLogTabId());
	Services.TabManager().SetMainWindow(nullptr);
}

void SLevelEditorWindow::RebuildWindowMenu()
{
	// Later, not now: the rebuild may come from inside one of these actions' own trigger.
	for (QAction* Old : WindowMenu->actions())
	{
		WindowMenu->removeAction(Old);
		if (Old->parent() == WindowMenu)
		{
			Old->deleteLater();
		}
	}
	Services.TabManager().PopulateTabSpawnerMenu(WindowMenu);
	Services.ToolMenus().PopulateMenu(WindowMenuName(), WindowMenu);
}

void SLevelEditorWindow::RebuildPlayToolBar()
{
	for (QAction* Old : PlayToolBar->actions())
	{
		PlayToolBar->removeAction(Old);
		if (Old->parent() == PlayToolBar)
		{
			Old->deleteLater();
		}
	}
	Services.ToolMenus().PopulateToolBar(PlayToolBarName(), PlayToolBar);
}

QAction* SLevelEditorWindow::FindWindowMenuAction(const QString& Name) const
{
	for (QAction* Action : WindowMenu->actions())
	{
		if (Action->objectName() == Name)
		{
			return Action;
		}
	}
	return nullptr;
}

QAction* SLevelEditorWindow::FindPlayToolBarAction(const QString& Name) const
{
	for (QAction* Action : PlayToolBar->actions())
	{
		if (Action->objectName() == Name)
		{
			return Action;
		}
	}
	return nullptr;
}

void SLevelEditorWindow::resizeEvent(QResizeEvent* Event)
{
	const int OldWidth = Event->oldSize().width();
	QList<QDockWidget*> Docks;
	QList<int> Widths;
	if (OldWidth > 0 && Event->size().width() != OldWidth)
	{
		for (QDockWidget* Dock : findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly))
		{
			if (Dock->isVisible() && !Dock->isFloating() && dockWidgetArea(Dock) == Qt::RightDockWidgetArea)
			{
				Docks.append(Dock);
				Widths.append(int(qint64(Dock->width()) * Event->size().width() / OldWidth));
			}
		}
	}
	QMainWindow::resizeEvent(Event);
	if (!Docks.isEmpty())
	{
		resizeDocks(Docks, Widths, Qt::Horizontal);
	}
}
