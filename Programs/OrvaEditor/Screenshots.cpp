// Renders the editor's states a reviewer looks at into PNG files: the editor with the plugin's tab
// open on the login box, the login box after a refused login, and the tab's error text when the
// SDK subsystem is missing; and how the editor draws notifications. It drives the real editor; the login goes to the
// service named in the user's "OrvaSDK.ini".
#include "EditorHost.h"
#include "EditorServices.h"
#include "GameThread.h"
#include "HotPatcherEditorTab.h"
#include "LevelEditorWindow.h"
#include "Notifications.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaEditorApp.h"
#include "OrvaLevelChooser.h"
#include "OrvaSDK.h"
#include "OrvaSDKSubsystem.h"
#include "SHotPatcher.h"
#include "SOrvaEditorLoginBox.h"
#include "SOrvaEditorView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>

#include <cstdio>

namespace
{
QString SwitchValue(const QStringList& Arguments, const QString& Name)
{
	const QString Prefix = QLatin1Char('-') + Name + QLatin1Char('=');
	for (const QString& Argument : Arguments)
	{
		if (Argument.startsWith(Prefix, Qt::CaseInsensitive))
		{
			return Argument.mid(Prefix.size());
		}
	}
	return QString();
}

bool Save(QWidget* Widget, const QString& Path)
{
	FGameThread::RunUntilIdle(200);
	if (!Widget->grab().save(Path, "PNG"))
	{
		std::fprintf(stderr, "Cannot write %s\n", qUtf8Printable(Path));
		return false;
	}
	std::fprintf(stdout, "%s\n", qUtf8Printable(Path));
	return true;
}

// Opens the plugin's tab the way a creator does: the Window menu's entry.
SDockTab* OpenPluginTab(FOrvaEditorApp& Editor)
{
	Editor.Window().resize(1600, 1000);
	Editor.Window().show();
	if (QAction* Entry = Editor.Window().FindWindowMenuAction(QStringLiteral("PluginAction")))
	{
		Entry->trigger();
	}
	FGameThread::RunUntilIdle(200);
	return Editor.Services().TabManager().FindExistingLiveTab(FOrvaSDKModule::TabName());
}
// The packaging panel as OpenHotPatcher shows it: the settings the plugin fills for the demo's
// entry level, and a build of them run from the panel, with its state and output.
bool SaveHotPatcherPanel(FOrvaEditorApp& Editor, const QString& OutDir)
{
	UOrvaSDKSubsystem* Sdk = Editor.Host().GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		return false;
	}
	Sdk->UpdateHotPatcherSettings(QStringLiteral("Entry"), FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	Sdk->OpenHotPatcher();
	FGameThread::RunUntilIdle(100);
	SDockTab* Tab = Editor.Services().TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName());
	auto* Panel = Tab ? Tab->findChild<SHotPatcher*>() : nullptr;
	if (!Panel)
	{
		std::fprintf(stderr, "OpenHotPatcher showed no panel\n");
		return false;
	}
	Editor.Window().resizeDocks({Tab}, {1100}, Qt::Horizontal);
	QString Error;
	const FProcWorkerThreadPtr Build = Panel->StartBuild(Error);
	if (!Build)
	{
		std::fprintf(stderr, "The panel did not build: %s\n", qUtf8Printable(Error));
		return false;
	}
	if (!FGameThread::RunUntil([&Build] { return Build->GetStatus() != EProcWorkerStatus::Running; }, 60000))
	{
		std::fprintf(stderr, "The panel's build did not end\n");
		return false;
	}
	// The tab alone: the toasts of earlier shots would cover its buttons.
	return Save(Tab, QDir(OutDir).filePath(QStringLiteral("5-hotpatcher-panel.png")));
}
// The level chooser as a form places it, with its picker open on the demo's levels.
bool SaveLevelChooser(FOrvaEditorApp& Editor, const QString& OutDir)
{
	QWidget Form;
	Form.setWindowTitle(QStringLiteral("Level chooser"));
	auto* Layout = new QFormLayout(&Form);
	Layout->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
	auto* Chooser = new UOrvaLevelChooser();
	Chooser->SetEditorHost(&Editor.Host());
	Layout->addRow(QStringLiteral("Entry level"), Chooser);
	Form.resize(420, 60);
	Form.move(100, 100);
	Form.show();
	FGameThread::RunUntilIdle(100);
	auto* Box = qobject_cast<SObjectPropertyEntryBox*>(Chooser->GetCachedWidget());
	if (!Box)
	{
		std::fprintf(stderr, "The level chooser shows no picker\n");
		return false;
	}
	// A level chosen, and the picker open again on the levels it offers.
	Box->OpenPicker();
	FGameThread::RunUntilIdle(50);
	QListWidget* List = Box->GetAssetList();
	if (QListWidgetItem* Entry = List->findItems(QStringLiteral("Entry"), Qt::MatchExactly).value(0))
	{
		Q_EMIT List->itemClicked(Entry);
	}
	Box->OpenPicker();
	FGameThread::RunUntilIdle(200);
	QWidget* Popup = QApplication::activePopupWidget();
	const QPixmap FormShot = Form.grab();
	QRect Area(QPoint(0, 0), FormShot.size());
	QPoint PopupAt;
	QPixmap PopupShot;
	if (Popup)
	{
		PopupShot = Popup->grab();
		PopupAt = Popup->mapToGlobal(QPoint(0, 0)) - Form.mapToGlobal(QPoint(0, 0));
		Area = Area.united(QRect(PopupAt, PopupShot.size()));
	}
	QPixmap Canvas(Area.size());
	Canvas.fill(QColor(0x2b, 0x2b, 0x2b));
	QPainter Painter(&Canvas);
	Painter.drawPixmap(-Area.topLeft(), FormShot);
	if (Popup)
	{
		Painter.drawPixmap(PopupAt - Area.topLeft(), PopupShot);
	}
	Painter.end();
	Box->ClosePicker();
	const QString Path = QDir(OutDir).filePath(QStringLiteral("6-level-chooser.png"));
	if (!Canvas.save(Path, "PNG"))
	{
		std::fprintf(stderr, "Cannot write %s\n", qUtf8Printable(Path));
		return false;
	}
	std::fprintf(stdout, "%s\n", qUtf8Printable(Path));
	return true;
}
} // namespace

int main(int argc, char** argv)
{
	QApplication App(argc, argv);
	FOrvaEditorApp::ApplyEditorStyle();
	const QStringList Arguments = App.arguments();
	const QString ProjectFile = Arguments.size() > 1 ? Arguments[1] : QString();
	const QString OutDir = SwitchValue(Arguments, QStringLiteral("Out"));
	const QString User = SwitchValue(Arguments, QStringLiteral("User"));
	const QString Password = SwitchValue(Arguments, QStringLiteral("Password"));
	if (!QFileInfo(ProjectFile).isFile() || OutDir.isEmpty())
	{
		std::fprintf(stderr, "Usage: OrvaEditorScreenshots PROJECT.uproject -Out=DIR [-User=U -Password=P]\n");
		return 2;
	}
	QDir().mkpath(OutDir);
	bool bOk = true;
	{
		FOrvaEditorOptions Options;
		Options.ProjectFile = ProjectFile;
		FOrvaEditorApp Editor(std::move(Options));
		Editor.Start();
		SDockTab* Tab = OpenPluginTab(Editor);
		auto* View = Tab ? Tab->findChild<SOrvaEditorView*>() : nullptr;
		SOrvaEditorLoginBox* Box = View ? View->GetLoginBox() : nullptr;
		if (!Box)
		{
			std::fprintf(stderr, "The plugin's tab shows no login box\n");
			return 1;
		}
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("1-editor-login-tab.png")));

		Box->GetUserText()->setText(User);
		Box->GetPasswordText()->setText(Password);
		Box->GetLoginButton()->click();
		if (!FGameThread::RunUntil([Box] { return Box->GetErrorText()->isVisible(); }, 15000))
		{
			std::fprintf(stderr, "The login box shows no error after a refused login\n");
			bOk = false;
		}
		bOk &= Save(Box, QDir(OutDir).filePath(QStringLiteral("2-login-error.png")));

		// How the editor draws the host's notification stack: one pending item, one finished.
		FNotificationInfo Pending(QStringLiteral("Map Uploading:  40%"));
		Pending.bFireAndForget = false;
		Pending.FadeInDuration = 0.0;
		Editor.Host().Notifications().AddNotification(Pending)->SetCompletionState(ENotificationState::Pending);
		FNotificationInfo Done(QStringLiteral("Pak build finished"));
		Done.bFireAndForget = false;
		Done.FadeInDuration = 0.0;
		Editor.Host().Notifications().AddNotification(Done)->SetCompletionState(ENotificationState::Success);
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("4-notification-toasts.png")));
		bOk &= SaveHotPatcherPanel(Editor, OutDir);
		bOk &= SaveLevelChooser(Editor, OutDir);
		Editor.Shutdown();
	}
	{
		FOrvaEditorOptions Options;
		Options.ProjectFile = ProjectFile;
		Options.bWithSdkSubsystems = false;
		FOrvaEditorApp Editor(std::move(Options));
		Editor.Start();
		SDockTab* Tab = OpenPluginTab(Editor);
		if (!Tab)
		{
			std::fprintf(stderr, "The plugin's tab did not open\n");
			return 1;
		}
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("3-subsystem-missing.png")));
		Editor.Shutdown();
	}
	return bOk ? 0 : 1;
}
