#pragma once

#include "Dialogs.h"
#include "EditorHost.h"
#include "EditorSubsystem.h"
#include "GameThread.h"
#include "LoopbackHttpServer.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptRunner.h"
#include "TestPrinters.h"
#include "TestProject.h"

#include <QSet>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
// A subsystem with one operation, property or event per kind of value the scripts convert, and
// with the dialogs the plugin's relocation and task entry points raise. The script engine is blind
// to which subsystem it drives, so what works here works on the plugin's subsystems.
class UScriptProbeSubsystem : public UEditorSubsystem
{
	Q_OBJECT
	Q_PROPERTY(QList<FWorkspaceData> Records MEMBER Records)
	Q_PROPERTY(FOrvaWorldDataPtr SharedWorld MEMBER SharedWorld)
	Q_PROPERTY(QSet<QString> Names MEMBER Names)
	Q_PROPERTY(QString Fixed READ GetFixed)

public:
	QList<FWorkspaceData> Records;
	FOrvaWorldDataPtr SharedWorld;
	QSet<QString> Names;
	QString GetFixed() const { return QStringLiteral("fixed"); }

	// Shaped like the relocation pair: a set of names from an object path, and a set taken back.
	Q_INVOKABLE QSet<QString> Folders(const FSoftObjectPath& Path) const
	{
		return {Path.GetLongPackageName(), Path.GetAssetName(), QStringLiteral("/Game/Shared")};
	}
	Q_INVOKABLE int Keep(const QSet<QString>& InNames)
	{
		Names = InNames;
		return int(InNames.size());
	}
	Q_INVOKABLE EOrvaSDKProgress Echo(EOrvaSDKProgress Progress) const { return Progress; }
	Q_INVOKABLE QList<FWorkspaceData> EchoRecords(const QList<FWorkspaceData>& InRecords) const { return InRecords; }
	Q_INVOKABLE QString WorldName(const FOrvaWorldDataPtr& World) const
	{
		return World ? World->Name : QStringLiteral("<null>");
	}
	Q_INVOKABLE quint8 Small(quint8 Value) const { return Value; }
	Q_INVOKABLE QString TypeOf(const QVariant& Value) const { return QString::fromLatin1(Value.typeName()); }
	Q_INVOKABLE double Half(double Value) const { return Value / 2; }
	Q_INVOKABLE QString Describe(int Value) const { return QStringLiteral("int %1").arg(Value); }
	Q_INVOKABLE QString Describe(const QString& Value) const { return QStringLiteral("text %1").arg(Value); }
	Q_INVOKABLE QString Describe(int A, int B) const { return QStringLiteral("pair %1 %2").arg(A).arg(B); }

	Q_INVOKABLE bool Ask()
	{
		return GetHost()->Dialogs().MessageBox(EAppMsgType::YesNo, QStringLiteral("Proceed?"),
		                                       QStringLiteral("Probe")) == EAppReturnType::Yes;
	}
	// A box raised later from the event loop, as a timer-driven task raises it.
	Q_INVOKABLE void AskLater(int DelayMs)
	{
		QTimer::singleShot(DelayMs, this,
		                   [this] {
			                   GetHost()->Dialogs().MessageBox(EAppMsgType::Ok, QStringLiteral("Late question"),
			                                                   QStringLiteral("Probe"));
		                   });
	}
	Q_INVOKABLE QStringList PickFiles()
	{
		return GetHost()->Dialogs().OpenFileDialog(QStringLiteral("Pick"), QString(), QString(), true);
	}
	Q_INVOKABLE void Ping(const QString& Text) { Q_EMIT Pinged(Text); }

Q_SIGNALS:
	void Pinged(const QString& Text);
};

// A host over a temporary project and user-settings folder with the plugin's subsystems and the
// probe, talking to a loopback server, and a script runner over it that collects its output.
class FAutomationFixture : public ::testing::Test
{
protected:
	FTestProject Project;
	FLoopbackHttpServer Server;
	std::unique_ptr<FEditorHost> Host;
	std::unique_ptr<FOrvaScriptRunner> Runner;
	QStringList Output;

	void SetUp() override
	{
		Project.WriteFile(QStringLiteral("UserSettings/BrackenfoldStudios/ORVA/OrvaSDK.ini"),
		                  "[Development]\nServiceBaseUrl=" + Server.Url(QStringLiteral("/api/v1/")).toUtf8() + "\n");
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.ShutdownFlushMs = 500;
		Host = std::make_unique<FEditorHost>(Options);
		Host->SetDialogService(std::make_unique<FPolicyDialogService>());
		Host->RegisterSubsystem<UOrvaSDKSubsystem>();
		Host->RegisterSubsystem<UOrvaDataCacheSubsystem>();
		Host->RegisterSubsystem<UScriptProbeSubsystem>();
		Host->Start();
		Runner = std::make_unique<FOrvaScriptRunner>(*Host);
		Runner->SetOutput([this](const QString& Line) { Output.append(Line); });
		Runner->SetDefaultWaitSeconds(2);
	}

	void TearDown() override
	{
		Runner.reset();
		Host->Shutdown();
		Host.reset();
	}

	bool Run(const QString& Script, const QString& Name = QStringLiteral("Test.orva"))
	{
		return Runner->RunText(Script, Name, Project.RootDir());
	}

	UOrvaSDKSubsystem& Sdk() const { return *Host->GetEditorSubsystem<UOrvaSDKSubsystem>(); }
	UScriptProbeSubsystem& Probe() const { return *Host->GetEditorSubsystem<UScriptProbeSubsystem>(); }
};
