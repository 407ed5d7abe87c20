#include "SdkFixture.h"

#include <QFile>
#include <QFileDevice>

// A stand-in client: a script that writes each argument it was given on a line of its own.
class ClientLaunchTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		WriteSettings();
		StartHost();
		Sdk().AccessToken = QStringLiteral("Bearer tok-9");
		Sdk().CurrWorkspace.WorldId = QStringLiteral("world-7");
		Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
		Output = Project.RootDir() + QStringLiteral("client-args.txt");
	}

	// Writes the script at Relative (below the root) and returns its full path.
	QString MakeClient(const QString& Relative)
	{
		const QByteArray Script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + Output.toUtf8() +
		                          ".tmp'\nmv '" + Output.toUtf8() + ".tmp' '" + Output.toUtf8() + "'\n";
		EXPECT_TRUE(Project.WriteFile(Relative, Script));
		const QString Path = Project.RootDir() + Relative;
		QFile::setPermissions(Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
		return Path;
	}

	// Registers the client pak as the packaging step leaves it.
	QString RegisterClientPak()
	{
		EXPECT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsClient/Component.json"),
		                              R"({"ComponentId":"cc-1"})"));
		return Project.ProjectDir() + QStringLiteral("Saved/HotPatcher/Entry/WindowsClient/cc-1.pak");
	}

	QStringList ArgumentsSeen()
	{
		FGameThread::RunUntil([this] { return QFile::exists(Output); }, 10000);
		QFile File(Output);
		if (!File.open(QIODevice::ReadOnly))
		{
			return {QStringLiteral("<not started>")};
		}
		QStringList Lines = QString::fromUtf8(File.readAll()).split(QLatin1Char('\n'));
		Lines.removeAll(QString());
		QFile::remove(Output);
		return Lines;
	}

	QString Output;
};

TEST_F(ClientLaunchTest, AppPathStartsTheClientWithOneArgumentPerSwitch)
{
	const QString Client = MakeClient(QStringLiteral("Client Dir/ORVAClient"));
	const QString Pak = RegisterClientPak();
	Project.WriteFile(SettingsRelative(), QStringLiteral("[Development]\nServiceBaseUrl=%1\nAppPath=%2\nLogging=True\n")
	                                          .arg(Server.Url(QStringLiteral("/api/v1/")), Client)
	                                          .toUtf8());
	Host->GetConfig()->Unload(SettingsFile());
	EXPECT_TRUE(Sdk().OpenClientExe());
	EXPECT_EQ(
	    ArgumentsSeen(),
	    QStringList({QStringLiteral("-ApplicationType=PC_Win64"), QStringLiteral("-ApplicationToken=tok-9"),
	                 QStringLiteral("-PakPlatform=WindowsClient"), QStringLiteral("-RunMode=Editor"),
	                 QStringLiteral("-SDK_Id=world-7"), QStringLiteral("-SDK_Path=") + Pak, QStringLiteral("-Log")}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("Target::") + Client));
	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());

	Host->EditorSettings().bStereoscopic3D = true;
	Sdk().AccessToken = QStringLiteral("plain-token");
	EXPECT_TRUE(Sdk().OpenClientExe());
	const QStringList Vr = ArgumentsSeen();
	ASSERT_GE(Vr.size(), 2);
	EXPECT_EQ(Vr[0], QStringLiteral("-ApplicationType=PC_Win64_VR"));
	EXPECT_EQ(Vr[1], QStringLiteral("-ApplicationToken=plain-token"));
}

TEST_F(ClientLaunchTest, TheInstallerRecordHasNoLengthLimitAndTheQuestionComesLast)
{
	// 70 characters and more: the registry read of old failed for lack of room.
	const QString Install = QStringLiteral("Install/") + QString(70, QLatin1Char('i'));
	const QString Client = MakeClient(Install + QStringLiteral("/ORVAClient/Binaries/Linux/ORVAClient"));
	Project.WriteFile(QStringLiteral("UserSettings/Registry/HKEY_CURRENT_USER.ini"),
	                  QStringLiteral("[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6A1D3C90-2F7B-4E55-"
	                                 "8B14-0C9E7A2D4F61}_is1]\nInstallLocation=%1\n")
	                      .arg(Project.RootDir() + Install)
	                      .toUtf8());
	EXPECT_TRUE(Sdk().OpenClientExe());
	// No registered client pak: started all the same, with no arguments.
	EXPECT_TRUE(ArgumentsSeen().isEmpty());
	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());

	QFile::remove(Project.RootDir() + QStringLiteral("UserSettings/Registry/HKEY_CURRENT_USER.ini"));
	Dialogs->QueueAnswer(EAppReturnType::No);
	EXPECT_FALSE(Sdk().OpenClientExe());
	ASSERT_EQ(Dialogs->ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs->ShownMessages()[0].Title, QStringLiteral("Select ORVAClient manually"));

	Dialogs->QueueAnswer(EAppReturnType::Yes);
	Dialogs->QueueFileChoice({Client});
	EXPECT_TRUE(Sdk().OpenClientExe());
	EXPECT_TRUE(ArgumentsSeen().isEmpty());

	Dialogs->QueueAnswer(EAppReturnType::Yes);
	Dialogs->QueueFileChoice({});
	EXPECT_FALSE(Sdk().OpenClientExe());
	EXPECT_TRUE(Log.Contains(QStringLiteral("Target::")));
}
