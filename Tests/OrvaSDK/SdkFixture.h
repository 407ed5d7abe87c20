#pragma once

#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "GameThread.h"
#include "Log.h"
#include "LoopbackHttpServer.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "TestProject.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

// Reaches the subsystem's private bookkeeping for tests.
struct FOrvaSDKSubsystemTestAccess
{
	static void UpdateProgress(UOrvaSDKSubsystem& Sdk, EOrvaSDKProgress Progress) { Sdk.UpdateProgress(Progress); }
	static void SetServiceBounds(UOrvaSDKSubsystem& Sdk, double DeadlineSeconds, qint64 AnswerLimit)
	{
		Sdk.ServiceDeadline = DeadlineSeconds;
		Sdk.ServiceAnswerLimit = AnswerLimit;
	}
	static double ServiceDeadline(const UOrvaSDKSubsystem& Sdk) { return Sdk.ServiceDeadline; }
	static qint64 ServiceAnswerLimit(const UOrvaSDKSubsystem& Sdk) { return Sdk.ServiceAnswerLimit; }
};

// A host over a temporary project and user-settings folder, with the plugin's subsystems, talking
// to a loopback server.
class FSdkFixture : public ::testing::Test
{
protected:
	FTestProject Project;
	FLoopbackHttpServer Server;
	FLogCapture Log;
	std::unique_ptr<FEditorHost> Host;
	FPolicyDialogService* Dialogs = nullptr;

	QString SettingsFile() const
	{
		return Project.UserSettingsDir() + QStringLiteral("BrackenfoldStudios/ORVA/OrvaSDK.ini");
	}
	QString SettingsRelative() const { return QStringLiteral("UserSettings/BrackenfoldStudios/ORVA/OrvaSDK.ini"); }

	// The settings file the host starts with: the service address, plus whatever Extra holds.
	void WriteSettings(const QByteArray& Extra = QByteArray(), bool bWithService = true)
	{
		QByteArray Text;
		if (bWithService)
		{
			Text += "[Development]\nServiceBaseUrl=" + Server.Url(QStringLiteral("/api/v1/")).toUtf8() + "\n";
		}
		Text += Extra;
		Project.WriteFile(SettingsRelative(), Text);
	}

	void StartHost(bool bWithSdk = true, bool bWithCache = true, bool bWithConfig = true)
	{
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.bWithConfigCache = bWithConfig;
		Options.ShutdownFlushMs = 2000;
		Host = std::make_unique<FEditorHost>(Options);
		auto PolicyDialogs = std::make_unique<FPolicyDialogService>();
		Dialogs = PolicyDialogs.get();
		Host->SetDialogService(std::move(PolicyDialogs));
		if (bWithSdk)
		{
			Host->RegisterSubsystem<UOrvaSDKSubsystem>();
		}
		if (bWithCache)
		{
			Host->RegisterSubsystem<UOrvaDataCacheSubsystem>();
		}
		Host->Start();
	}

	void StartLoggedOutHost()
	{
		WriteSettings();
		StartHost();
	}

	UOrvaSDKSubsystem& Sdk() const { return *Host->GetEditorSubsystem<UOrvaSDKSubsystem>(); }
	UOrvaDataCacheSubsystem& Cache() const { return *Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>(); }

	// Runs the event loop until every request sent so far has been answered and handled.
	void Settle(int TimeoutMs = 5000)
	{
		FGameThread::RunUntil([this] { return Host->Http().GetPendingCount() == 0; }, TimeoutMs);
		FGameThread::RunUntilIdle(20);
	}

	// A world-list element as the service sends it.
	static QByteArray WorldJson(const QString& Identifier, const QString& Id, const QString& Name = QStringLiteral("W"))
	{
		return QStringLiteral(R"({"identifier":"%1","id":"%2","name":"%3","description":"d","private":false})")
		    .arg(Identifier, Id, Name)
		    .toUtf8();
	}

	// Fills the cache with worlds through a real list answer.
	void LoadWorlds(const QList<QByteArray>& Worlds)
	{
		QByteArray Body = "[";
		for (int Index = 0; Index < Worlds.size(); ++Index)
		{
			Body += (Index ? "," : "") + Worlds[Index];
		}
		Body += "]";
		Server.Enqueue(200, Body);
		Sdk().GetWorldsList();
		Settle();
	}

	void TearDown() override
	{
		if (Host)
		{
			Host->Shutdown();
			Host.reset();
		}
	}
};
