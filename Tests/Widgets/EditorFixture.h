#pragma once

#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "EditorServices.h"
#include "GameThread.h"
#include "LevelEditorWindow.h"
#include "Log.h"
#include "LoopbackHttpServer.h"
#include "OrvaEditorApp.h"
#include "OrvaSDK.h"
#include "OrvaSDKSubsystem.h"
#include "SOrvaEditorLoginBox.h"
#include "SOrvaEditorView.h"
#include "SOrvaEditorWorldView.h"
#include "TestProject.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

// The editor as a creator opens it, over a temporary project and user-settings folder, with the
// plugin's module loaded; the SDK talks to a loopback server unless a test points it elsewhere.
class FEditorFixture : public ::testing::Test
{
protected:
	FTestProject Project;
	FLoopbackHttpServer Server;
	FLogCapture Log;
	std::unique_ptr<FOrvaEditorApp> Editor;

	QString SettingsRelative() const { return QStringLiteral("UserSettings/BrackenfoldStudios/ORVA/OrvaSDK.ini"); }
	QByteArray SettingsBytes() const { return Project.ReadFile(SettingsRelative()); }

	// The settings file the editor starts with: the service address, plus Extra.
	void WriteSettings(const QByteArray& Extra = QByteArray(), const QString& ServiceUrl = QString())
	{
		const QString Url = ServiceUrl.isEmpty() ? Server.Url(QStringLiteral("/api/v1/")) : ServiceUrl;
		Project.WriteFile(SettingsRelative(), "[Development]\nServiceBaseUrl=" + Url.toUtf8() + "\n" + Extra);
	}

	void StartEditor(bool bWithSdk = true)
	{
		FOrvaEditorOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.bWithSdkSubsystems = bWithSdk;
		Options.bLogToFile = false;
		Options.Dialogs = std::make_unique<FPolicyDialogService>();
		Editor = std::make_unique<FOrvaEditorApp>(std::move(Options));
		Editor->Start();
		Editor->Window().resize(1600, 1000);
		Editor->Window().show();
		// The menus are rebuilt once the queued spawner changes are in.
		FGameThread::RunUntilIdle(20);
	}

	SLevelEditorWindow& Window() const { return Editor->Window(); }
	FEditorServices& Services() const { return Editor->Services(); }
	UOrvaSDKSubsystem* Sdk() const { return Editor->Host().GetEditorSubsystem<UOrvaSDKSubsystem>(); }

	SDockTab* PluginTab() const { return Services().TabManager().FindExistingLiveTab(FOrvaSDKModule::TabName()); }

	// Opens the tab through the Window menu entry, as a creator does.
	SOrvaEditorView* OpenView()
	{
		QAction* Entry = Window().FindWindowMenuAction(QStringLiteral("PluginAction"));
		if (!Entry)
		{
			return nullptr;
		}
		Entry->trigger();
		FGameThread::RunUntilIdle(50);
		return PluginTab() ? PluginTab()->findChild<SOrvaEditorView*>() : nullptr;
	}

	void Settle(int TimeoutMs = 5000)
	{
		FGameThread::RunUntil([this] { return Editor->Host().Http().GetPendingCount() == 0; }, TimeoutMs);
		FGameThread::RunUntilIdle(20);
	}

	void TearDown() override
	{
		if (Editor)
		{
			Editor->Shutdown();
			Editor.reset();
		}
	}
};
