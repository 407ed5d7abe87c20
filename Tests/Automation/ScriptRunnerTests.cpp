#include "AutomationFixture.h"
#include "Notifications.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>

namespace
{
QByteArray WorldJson(const QString& Identifier, const QString& Id, const QString& Name)
{
	return QStringLiteral(R"({"identifier":"%1","id":"%2","name":"%3","description":"d","private":true})")
	    .arg(Identifier, Id, Name)
	    .toUtf8();
}

// Answers what the workspace switch asks for on its own (the screenshot list).
FLoopbackHttpServer::FAnswer NoScreenshots(const FLoopbackHttpServer::FRecordedRequest&)
{
	return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
}
} // namespace

class ScriptRunnerTest : public FAutomationFixture
{
};

TEST_F(ScriptRunnerTest, LoginThroughCallWaitGetAndExpect)
{
	Server.Enqueue(200, R"({"access_token":"tok-1"})");
	Server.Enqueue(200, R"({"display_name":"Ann","email":"ann@example.org","is_creator":true})");

	ASSERT_TRUE(Run(QStringLiteral(R"(
# the service answers the token and then the profile request
call UOrvaSDKSubsystem.Login "ann@example.org" "p#w"   # a '#' inside a string is not a comment
wait UOrvaSDKSubsystem.OnOrvaSDKLogin 5
wait UOrvaSDKSubsystem.OnLoginStateChanged 5
expect UOrvaSDKSubsystem.bIsLoggedin true
expect UOrvaSDKSubsystem.AccessToken "Bearer tok-1"
get UOrvaSDKSubsystem.UserInfo
expect UOrvaSDKSubsystem.UserInfo.DisplayName "Ann"
call UOrvaSDKSubsystem.CurrentLevelIsNone
call UOrvaSDKSubsystem.GetCurrProgress
)"))) << qPrintable(Runner->GetError());

	EXPECT_EQ(
	    Output,
	    (QStringList{
	        QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnOrvaSDKLogin","args":[true]})"),
	        QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnLoginStateChanged","args":[true]})"),
	        QStringLiteral(
	            R"({"get":"UOrvaSDKSubsystem.UserInfo","value":{"DisplayName":"Ann","Email":"ann@example.org","bIsCreator":true}})"),
	        QStringLiteral(R"({"call":"UOrvaSDKSubsystem.CurrentLevelIsNone","result":true})"),
	        QStringLiteral(R"({"call":"UOrvaSDKSubsystem.GetCurrProgress","result":"None"})"),
	    }));
	ASSERT_EQ(Server.RequestCount(), 2);
	EXPECT_TRUE(Server.Requests()[0].Body.contains(R"("email":"ann@example.org")"));
	EXPECT_TRUE(Server.Requests()[0].Body.contains(R"("password":"p#w")"));
	EXPECT_EQ(Server.Requests()[1].Header("Authorization"), "Bearer tok-1");
	EXPECT_TRUE(Runner->GetError().isEmpty());
}

TEST_F(ScriptRunnerTest, EmissionsWaitInTheirQueueUntilTaken)
{
	Server.Enqueue(200, R"({"access_token":"tok-1"})");
	Server.Enqueue(200, R"({"display_name":"Ann"})");

	// Signals emitted inside a call, and answers handled during a sleep, are all taken later, oldest
	// first; a call does not drop what was recorded before it.
	ASSERT_TRUE(Run(QStringLiteral(R"(
call UScriptProbeSubsystem.Ping "first"
call UScriptProbeSubsystem.Ping "second"
call UOrvaSDKSubsystem.Login "ann@example.org" "pw"
sleep 1.5
call UOrvaSDKSubsystem.Logout
wait UScriptProbeSubsystem.Pinged 0
wait UOrvaSDKSubsystem.OnLoginStateChanged 0
wait UOrvaSDKSubsystem.OnLoginStateChanged 0
wait UScriptProbeSubsystem.Pinged 0
wait UOrvaSDKSubsystem.OnOrvaSDKLogin 0
)"))) << qPrintable(Runner->GetError());
	EXPECT_EQ(Output, (QStringList{
	                      QStringLiteral(R"({"event":"UScriptProbeSubsystem.Pinged","args":["first"]})"),
	                      QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnLoginStateChanged","args":[true]})"),
	                      QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnLoginStateChanged","args":[false]})"),
	                      QStringLiteral(R"({"event":"UScriptProbeSubsystem.Pinged","args":["second"]})"),
	                      QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnOrvaSDKLogin","args":[true]})"),
	                  }));

	// Each emission is taken once.
	EXPECT_FALSE(Run(QStringLiteral("wait UScriptProbeSubsystem.Pinged 0.1\n")));
}

TEST_F(ScriptRunnerTest, WaitTimeOutNamesTheScriptLineAndTheEvent)
{
	QElapsedTimer Clock;
	Clock.start();
	EXPECT_FALSE(Run(QStringLiteral("# nothing logs in\n\nwait UOrvaSDKSubsystem.OnOrvaSDKLogin 0.3\ncall "
	                                "UScriptProbeSubsystem.Ping \"never\"\n"),
	                 QStringLiteral("PublishDemo.orva")));
	EXPECT_GE(Clock.elapsed(), 250);
	EXPECT_EQ(Runner->GetError(),
	          QStringLiteral("PublishDemo.orva:3: wait UOrvaSDKSubsystem.OnOrvaSDKLogin: timed out after 0.3 s"));
	EXPECT_EQ(Runner->GetFailedLine(), 3);

	// The default time-out applies without SECONDS; nothing after the failed line runs.
	EXPECT_FALSE(Run(QStringLiteral("wait UScriptProbeSubsystem.Pinged\n")));
	EXPECT_EQ(Runner->GetError(),
	          QStringLiteral("Test.orva:1: wait UScriptProbeSubsystem.Pinged: timed out after 2 s"));
	EXPECT_FALSE(Run(QStringLiteral("wait UScriptProbeSubsystem.Pinged 0\n")))
	    << "the Ping after the failed wait must not have run";
}

TEST_F(ScriptRunnerTest, SetThroughRecordPathsWritesTheWholeValueBack)
{
	Sdk().CurrWorkspace.WorldId = QStringLiteral("id-7");
	auto Shared = std::make_shared<FOrvaWorldData>();
	Probe().SharedWorld = Shared;
	Probe().Records = {FWorkspaceData(), FWorkspaceData()};

	ASSERT_TRUE(Run(QStringLiteral(R"(
set UOrvaSDKSubsystem.CurrWorkspace.TitleName "Harbour"
set UOrvaSDKSubsystem.CurrWorkspace.Description "Boats and \"cranes\""
set UOrvaSDKSubsystem.CurrWorkspace.Progress "AssetPaking"
set UOrvaSDKSubsystem.CurrWorkspace.ObjectPath "/Game/Maps/Entry.Entry"
set UOrvaSDKSubsystem.IdentInProgress "w1"
set UScriptProbeSubsystem.Records[1].TitleName "second"
set UScriptProbeSubsystem.SharedWorld.Name "Isle"
set UScriptProbeSubsystem.Names ["b", "a"]
expect UOrvaSDKSubsystem.CurrWorkspace.ObjectPath.AssetName "Entry"
)"))) << qPrintable(Runner->GetError());

	const FWorkspaceData& Workspace = Sdk().CurrWorkspace;
	EXPECT_EQ(Workspace.TitleName, QStringLiteral("Harbour"));
	EXPECT_EQ(Workspace.Description, QStringLiteral("Boats and \"cranes\""));
	EXPECT_EQ(Workspace.Progress, EOrvaSDKProgress::AssetPaking);
	EXPECT_EQ(Workspace.ObjectPath.ToString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Workspace.WorldId, QStringLiteral("id-7")) << "fields the path did not name keep their values";
	EXPECT_EQ(Sdk().IdentInProgress, QStringLiteral("w1"));
	EXPECT_EQ(Probe().Records[0].TitleName, QString());
	EXPECT_EQ(Probe().Records[1].TitleName, QStringLiteral("second"));
	EXPECT_EQ(Probe().SharedWorld.get(), Shared.get()) << "a shared record is changed in place";
	EXPECT_EQ(Shared->Name, QStringLiteral("Isle"));
	EXPECT_EQ(Probe().Names, (QSet<QString>{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST_F(ScriptRunnerTest, ReferencesPassOnWhatTheServiceCreated)
{
	Server.Enqueue(200, "[" + WorldJson(QStringLiteral("wa"), QStringLiteral("id-a"), QStringLiteral("A")) + "," +
	                        WorldJson(QStringLiteral("wb"), QStringLiteral("id-b"), QStringLiteral("B")) + "]");
	Server.SetHandler(NoScreenshots);

	ASSERT_TRUE(Run(QStringLiteral(R"(
call UOrvaSDKSubsystem.GetWorldsList
wait UOrvaSDKSubsystem.OnWorldsListUpdated 5
call UOrvaSDKSubsystem.ChangeWorkspaceWorld @UOrvaDataCacheSubsystem.GetWorldList[2]
expect UOrvaSDKSubsystem.CurrWorkspace.WorldId @UOrvaDataCacheSubsystem.GetWorldList[2].Id
expect UOrvaSDKSubsystem.CurrWorkspace.WorldId "id-b"
call UScriptProbeSubsystem.WorldName @UOrvaDataCacheSubsystem.GetWorldList[1]
call UScriptProbeSubsystem.Describe @UOrvaSDKSubsystem.CurrWorkspace.TitleName
get UOrvaDataCacheSubsystem.GetWorldList[1].TitleImage
)"))) << qPrintable(Runner->GetError());

	EXPECT_EQ(Sdk().CurrWorkspace.WorldIdentifier, QStringLiteral("wb"));
	ASSERT_EQ(Output.size(), 5) << Output.join(QLatin1Char('\n')).toStdString();
	EXPECT_EQ(Output[0], QStringLiteral(R"({"event":"UOrvaSDKSubsystem.OnWorldsListUpdated","args":[]})"));
	EXPECT_EQ(
	    Output[1],
	    QStringLiteral(
	        R"({"call":"UOrvaSDKSubsystem.ChangeWorkspaceWorld","result":{"WorldIdentifier":"wb","WorldId":"id-b",)"
	        R"("TitleName":"B","Description":"d","bIsPublic":false,"ObjectPath":"","bEditable":false,"Progress":"None"}})"));
	EXPECT_EQ(Output[2], QStringLiteral(R"({"call":"UScriptProbeSubsystem.WorldName","result":"A"})"));
	EXPECT_EQ(Output[3], QStringLiteral(R"({"call":"UScriptProbeSubsystem.Describe","result":"text B"})"));
	EXPECT_EQ(Output[4],
	          QStringLiteral(R"({"get":"UOrvaDataCacheSubsystem.GetWorldList[1].TitleImage","value":null})"));

	EXPECT_FALSE(
	    Run(QStringLiteral("call UOrvaSDKSubsystem.ChangeWorkspaceWorld @UOrvaDataCacheSubsystem.GetWorldList[3]\n")));
	EXPECT_EQ(
	    Runner->GetError(),
	    QStringLiteral("Test.orva:1: call UOrvaSDKSubsystem.ChangeWorkspaceWorld: argument 1: "
	                   "@UOrvaDataCacheSubsystem.GetWorldList[3]: [3]: index out of range (the list has 3 entries)"));
}

TEST_F(ScriptRunnerTest, ArgumentsConvertToTheParameterTypes)
{
	ASSERT_TRUE(Run(QStringLiteral(R"(
call UScriptProbeSubsystem.Folders "/Game/Maps/Entry.Entry"
call UScriptProbeSubsystem.Keep ["b", "a", "b"]
expect UScriptProbeSubsystem.Names ["b", "a"]
call UScriptProbeSubsystem.Echo "PakUploading"
call UScriptProbeSubsystem.Echo 3
call UScriptProbeSubsystem.EchoRecords [{"WorldIdentifier": "w1"}, {"TitleName": "t", "Progress": "AssetPaking", "ObjectPath": "/Game/A.A"}]
call UScriptProbeSubsystem.WorldName {"Name": "Isle", "TitleImage": {"Size": 12}}
call UScriptProbeSubsystem.WorldName null
call UScriptProbeSubsystem.Small 255
call UScriptProbeSubsystem.Half 3
call UScriptProbeSubsystem.TypeOf {"a": [1]}
call UScriptProbeSubsystem.Describe 4
call UScriptProbeSubsystem.Describe "four"
call UScriptProbeSubsystem.Describe 4 5
get UScriptProbeSubsystem.Fixed
)"))) << qPrintable(Runner->GetError());
	EXPECT_EQ(
	    Output,
	    (QStringList{
	        QStringLiteral(
	            R"({"call":"UScriptProbeSubsystem.Folders","result":["/Game/Maps/Entry","/Game/Shared","Entry"]})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Keep","result":2})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Echo","result":"PakUploading"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Echo","result":"FolderMoveSuccess"})"),
	        QStringLiteral(
	            R"({"call":"UScriptProbeSubsystem.EchoRecords","result":[)"
	            R"({"WorldIdentifier":"w1","WorldId":"","TitleName":"","Description":"","bIsPublic":false,"ObjectPath":"","bEditable":false,"Progress":"None"},)"
	            R"({"WorldIdentifier":"","WorldId":"","TitleName":"t","Description":"","bIsPublic":false,"ObjectPath":"/Game/A.A","bEditable":false,"Progress":"AssetPaking"}]})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.WorldName","result":"Isle"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.WorldName","result":"<null>"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Small","result":255})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Half","result":1.5})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.TypeOf","result":"QVariantMap"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Describe","result":"int 4"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Describe","result":"text four"})"),
	        QStringLiteral(R"({"call":"UScriptProbeSubsystem.Describe","result":"pair 4 5"})"),
	        QStringLiteral(R"({"get":"UScriptProbeSubsystem.Fixed","value":"fixed"})"),
	    }));
}

// Every way a line can be wrong, with the one line that reports it.
TEST_F(ScriptRunnerTest, FailuresNameTheLineTheCommandAndTheReason)
{
	const QList<QPair<QString, QString>> Cases = {
	    {QStringLiteral("call UOrvaSDKSubsystm.Logout"),
	     QStringLiteral("call UOrvaSDKSubsystm.Logout: unknown subsystem \"UOrvaSDKSubsystm\" (this host has "
	                    "UOrvaSDKSubsystem, UOrvaDataCacheSubsystem, UScriptProbeSubsystem)")},
	    {QStringLiteral("call UOrvaSDKSubsystem.LogOut"),
	     QStringLiteral("call UOrvaSDKSubsystem.LogOut: UOrvaSDKSubsystem has no operation \"LogOut\"")},
	    {QStringLiteral("call UOrvaSDKSubsystem.OnOrvaSDKLogin"),
	     QStringLiteral("call UOrvaSDKSubsystem.OnOrvaSDKLogin: \"OnOrvaSDKLogin\" is an event; `wait` for it")},
	    {QStringLiteral("call UOrvaSDKSubsystem.deleteLater"),
	     QStringLiteral("call UOrvaSDKSubsystem.deleteLater: UOrvaSDKSubsystem has no operation \"deleteLater\"")},
	    {QStringLiteral("call UOrvaSDKSubsystem.Login demo@orva.dev \"pw\""),
	     QStringLiteral("call UOrvaSDKSubsystem.Login: argument 1: demo@orva.dev is not JSON (illegal number)")},
	    {QStringLiteral("call UOrvaSDKSubsystem.Login \"demo@orva.dev\""),
	     QStringLiteral("call UOrvaSDKSubsystem.Login: Login(QString,QString) takes 2 argument(s)")},
	    {QStringLiteral("call UOrvaSDKSubsystem.PrivatizeWorld \"yes\""),
	     QStringLiteral(
	         "call UOrvaSDKSubsystem.PrivatizeWorld: argument 1 (bIsPrivate): expected true or false, got \"yes\"")},
	    {QStringLiteral("call UScriptProbeSubsystem.Small 256"),
	     QStringLiteral("call UScriptProbeSubsystem.Small: argument 1 (Value): 256 is out of range")},
	    {QStringLiteral("call UScriptProbeSubsystem.Half \"x\" 1 2"),
	     QStringLiteral("call UScriptProbeSubsystem.Half: Half(double) takes 1 argument(s)")},
	    {QStringLiteral("call UScriptProbeSubsystem.Echo \"Paking\""),
	     QStringLiteral("call UScriptProbeSubsystem.Echo: argument 1 (Progress): \"Paking\" is not a value of "
	                    "OrvaSDKTypes::EOrvaSDKProgress (None, FolderMoving, FolderMovFailed, FolderMoveSuccess, "
	                    "AssetPaking, AssetPakFailed, AssetPakSuccess, PakUploading, PakUploadFailed, "
	                    "PakUploadSuccess)")},
	    {QStringLiteral("call UScriptProbeSubsystem.EchoRecords [{\"Title\": \"x\"}]"),
	     QStringLiteral("call UScriptProbeSubsystem.EchoRecords: argument 1 (InRecords): element 0: FWorkspaceData "
	                    "has no field \"Title\"")},
	    {QStringLiteral("call UScriptProbeSubsystem.Folders \"Maps/Entry\""),
	     QStringLiteral("call UScriptProbeSubsystem.Folders: argument 1 (Path): expected an object path such as "
	                    "\"/Game/Maps/Entry.Entry\", got \"Maps/Entry\"")},
	    {QStringLiteral("call UScriptProbeSubsystem.Keep [\"a\", 1]"),
	     QStringLiteral("call UScriptProbeSubsystem.Keep: argument 1 (InNames): element 1: expected a string, got 1")},
	    {QStringLiteral("call UScriptProbeSubsystem.Describe {\"a\": [1, 2}"),
	     QStringLiteral("call UScriptProbeSubsystem.Describe: unterminated JSON value {\"a\": [1, 2}")},
	    {QStringLiteral("get UOrvaSDKSubsystem.CurrWorkspace.Title"),
	     QStringLiteral("get UOrvaSDKSubsystem.CurrWorkspace.Title: FWorkspaceData has no field \"Title\"")},
	    {QStringLiteral("get UOrvaSDKSubsystem.Workspace"),
	     QStringLiteral("get UOrvaSDKSubsystem.Workspace: UOrvaSDKSubsystem has no property, nor operation "
	                    "without parameters that returns a value, named \"Workspace\"")},
	    {QStringLiteral("get UOrvaSDKSubsystem.Logout"),
	     QStringLiteral("get UOrvaSDKSubsystem.Logout: UOrvaSDKSubsystem has no property, nor operation "
	                    "without parameters that returns a value, named \"Logout\"")},
	    {QStringLiteral("get UOrvaSDKSubsystem.TargetPlatforms[x]"),
	     QStringLiteral("get UOrvaSDKSubsystem.TargetPlatforms[x]: \"TargetPlatforms[x]\": an index is a whole "
	                    "number in brackets, as in [0]")},
	    {QStringLiteral("get UOrvaSDKSubsystem.bIsLoggedin[0]"),
	     QStringLiteral("get UOrvaSDKSubsystem.bIsLoggedin[0]: [0]: a bool is not a list")},
	    {QStringLiteral("expect UOrvaSDKSubsystem.TargetPlatforms [\"WindowsClient\", \"WindowsServer\"]"),
	     QStringLiteral("expect UOrvaSDKSubsystem.TargetPlatforms: expected [\"WindowsClient\",\"WindowsServer\"], "
	                    "got [\"WindowsServer\",\"WindowsClient\"]")},
	    {QStringLiteral("expect UOrvaSDKSubsystem.bIsLoggedin"),
	     QStringLiteral("expect UOrvaSDKSubsystem.bIsLoggedin: usage: expect Subsystem.Path JSON")},
	    {QStringLiteral("set UOrvaSDKSubsystem.bIsLoggedin true"),
	     QStringLiteral("set UOrvaSDKSubsystem.bIsLoggedin: property \"bIsLoggedin\" is read-only")},
	    {QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.TitleName 5"),
	     QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.TitleName: expected a string, got 5")},
	    {QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.ObjectPath.AssetName \"X\""),
	     QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.ObjectPath.AssetName: field \"AssetName\" of "
	                    "FSoftObjectPath is read-only")},
	    {QStringLiteral("set UScriptProbeSubsystem.Records[0].TitleName \"x\""),
	     QStringLiteral("set UScriptProbeSubsystem.Records[0].TitleName: [0]: index out of range (the list has 0 "
	                    "entries)")},
	    {QStringLiteral("set UScriptProbeSubsystem.Names[0] \"x\""),
	     QStringLiteral("set UScriptProbeSubsystem.Names[0]: [0]: the entries of a QSet<QString> cannot be replaced "
	                    "one by one")},
	    {QStringLiteral("set UScriptProbeSubsystem.SharedWorld.Name \"x\""),
	     QStringLiteral("set UScriptProbeSubsystem.SharedWorld.Name: .Name: the FOrvaWorldData is null")},
	    {QStringLiteral("wait UOrvaSDKSubsystem.OnLogin"),
	     QStringLiteral("wait UOrvaSDKSubsystem.OnLogin: UOrvaSDKSubsystem has no event \"OnLogin\"")},
	    {QStringLiteral("wait UOrvaSDKSubsystem.OnOrvaSDKLogin soon"),
	     QStringLiteral("wait UOrvaSDKSubsystem.OnOrvaSDKLogin: \"soon\" is not a number of seconds")},
	    {QStringLiteral("answer maybe"), QStringLiteral("answer: \"maybe\" is not an answer (yes, no, ok, cancel)")},
	    {QStringLiteral("sleep -1"), QStringLiteral("sleep: \"-1\" is not a number of seconds")},
	    {QStringLiteral("click UOrvaSDKSubsystem.Logout"),
	     QStringLiteral("click: unknown command \"click\" (call, wait, get, expect, set, "
	                    "answer, choose, sleep, settle, notifications, image, until, uploads)")},
	    {QStringLiteral("until UOrvaSDKSubsystem.IdentInProgress"),
	     QStringLiteral("until UOrvaSDKSubsystem.IdentInProgress: usage: until Subsystem.Path JSON [SECONDS]")},
	};
	for (const auto& [Line, Expected] : Cases)
	{
		EXPECT_FALSE(Run(QStringLiteral("# first line\n") + Line + QStringLiteral("\ncall UOrvaSDKSubsystem.Logout\n")))
		    << qPrintable(Line);
		EXPECT_EQ(Runner->GetError(), QStringLiteral("Test.orva:2: ") + Expected);
		EXPECT_EQ(Runner->GetFailedLine(), 2);
	}
	EXPECT_TRUE(Output.isEmpty()) << qPrintable(Output.join(QLatin1Char('\n')));
}

TEST_F(ScriptRunnerTest, MessageBoxesTakeQueuedAnswersOrFailTheScript)
{
	ASSERT_TRUE(Run(QStringLiteral("answer yes no\ncall UScriptProbeSubsystem.Ask\ncall UScriptProbeSubsystem.Ask\n")))
	    << qPrintable(Runner->GetError());
	EXPECT_EQ(Output, (QStringList{QStringLiteral(R"({"call":"UScriptProbeSubsystem.Ask","result":true})"),
	                               QStringLiteral(R"({"call":"UScriptProbeSubsystem.Ask","result":false})")}));

	// The call returns (its result is printed), then the script stops at it.
	Output.clear();
	EXPECT_FALSE(Run(QStringLiteral("call UScriptProbeSubsystem.Ask\ncall UScriptProbeSubsystem.Ping \"x\"\n")));
	EXPECT_EQ(Runner->GetError(), QStringLiteral("Test.orva:1: call UScriptProbeSubsystem.Ask: a message box found no "
	                                             "answer (queue one with `answer`): \"Probe\": Proceed?"));
	EXPECT_EQ(Output, QStringList{QStringLiteral(R"({"call":"UScriptProbeSubsystem.Ask","result":false})")});

	// A box raised from the event loop ends a wait at once, with the box as the reason.
	QElapsedTimer Clock;
	Clock.start();
	EXPECT_FALSE(Run(QStringLiteral("call UScriptProbeSubsystem.AskLater 50\nwait UScriptProbeSubsystem.Pinged 20\n")));
	EXPECT_LT(Clock.elapsed(), 5000);
	EXPECT_EQ(Runner->GetError(), QStringLiteral("Test.orva:2: wait UScriptProbeSubsystem.Pinged: a message box found "
	                                             "no answer (queue one with `answer`): \"Probe\": Late question"));
}

TEST_F(ScriptRunnerTest, ChooseQueuesFileDialogResults)
{
	ASSERT_TRUE(Run(QStringLiteral(R"(
choose shots/a.png "/tmp/with space.png"
choose
call UScriptProbeSubsystem.PickFiles
call UScriptProbeSubsystem.PickFiles
)"))) << qPrintable(Runner->GetError());
	const QString Base = QDir::cleanPath(Project.RootDir());
	EXPECT_EQ(Output,
	          (QStringList{
	              QStringLiteral(
	                  R"({"call":"UScriptProbeSubsystem.PickFiles","result":["%1/shots/a.png","/tmp/with space.png"]})")
	                  .arg(Base),
	              QStringLiteral(R"({"call":"UScriptProbeSubsystem.PickFiles","result":[]})")}));
}

TEST_F(ScriptRunnerTest, SettleWaitsForRequestsThatFireNoEvent)
{
	FLoopbackHttpServer::FAnswer Slow{200, "{}"};
	Slow.DelayMs = 300;
	Server.Enqueue(Slow);
	ASSERT_TRUE(Run(QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.WorldId \"id-1\"\n"
	                               "set UOrvaSDKSubsystem.CurrWorkspace.TitleName \"Harbour\"\n"
	                               "call UOrvaSDKSubsystem.UploadWorldDetials\nsettle 5\n")))
	    << qPrintable(Runner->GetError());
	EXPECT_EQ(Host->Http().GetPendingCount(), 0);
	ASSERT_EQ(Server.RequestCount(), 1);
	EXPECT_EQ(Server.Requests()[0].Verb, "PATCH");
	EXPECT_TRUE(Server.Requests()[0].Body.contains("Harbour"));

	FLoopbackHttpServer::FAnswer Slower{200, "{}"};
	Slower.DelayMs = 1500;
	Server.Enqueue(Slower);
	EXPECT_FALSE(Run(QStringLiteral("call UOrvaSDKSubsystem.UploadWorldDetials\nsettle 0.2\n")));
	EXPECT_EQ(Runner->GetError(), QStringLiteral("Test.orva:2: settle: 1 request(s) still unanswered after 0.2 s"));
	// The answer still comes; a longer settle sees it.
	EXPECT_TRUE(Run(QStringLiteral("settle 5\n"))) << qPrintable(Runner->GetError());
	EXPECT_EQ(Host->Http().GetPendingCount(), 0);
}

TEST_F(ScriptRunnerTest, UntilWaitsForAValueThatChangesWithoutAnEvent)
{
	UOrvaSDKSubsystem* Sdk = Host->GetEditorSubsystem<UOrvaSDKSubsystem>();
	FGameThread::PostDelayed(Sdk, 300, [Sdk] { Sdk->IdentInProgress = QStringLiteral("W1"); });
	QElapsedTimer Timer;
	Timer.start();
	ASSERT_TRUE(Run(QStringLiteral("until UOrvaSDKSubsystem.IdentInProgress \"W1\" 5\n")))
	    << qPrintable(Runner->GetError());
	EXPECT_GE(Timer.elapsed(), 250);
	EXPECT_LT(Timer.elapsed(), 4000);
	EXPECT_FALSE(Run(QStringLiteral("until UOrvaSDKSubsystem.IdentInProgress \"W2\" 0.2\n")));
	EXPECT_EQ(Runner->GetError(),
	          QStringLiteral(
	              "Test.orva:1: until UOrvaSDKSubsystem.IdentInProgress: still \"W1\" after 0.2 s, waited for \"W2\""));
}

TEST_F(ScriptRunnerTest, MissingScriptFileIsReported)
{
	const QString Missing = Project.RootDir() + QStringLiteral("nope.orva");
	EXPECT_FALSE(Runner->RunFile(Missing));
	EXPECT_TRUE(Runner->GetError().startsWith(Missing + QStringLiteral(": cannot read the script")))
	    << qPrintable(Runner->GetError());

	ASSERT_TRUE(
	    Project.WriteFile(QStringLiteral("scripts/ok.orva"), "choose pic.png\ncall UScriptProbeSubsystem.PickFiles\n"));
	EXPECT_TRUE(Runner->RunFile(Project.RootDir() + QStringLiteral("scripts/ok.orva")));
	EXPECT_EQ(Output.value(0),
	          QStringLiteral(R"({"call":"UScriptProbeSubsystem.PickFiles","result":["%1/scripts/pic.png"]})")
	              .arg(QDir::cleanPath(Project.RootDir())))
	    << "relative paths are taken from the script's folder";
}

TEST_F(ScriptRunnerTest, NotificationsPrintTheStackOldestFirst)
{
	ASSERT_TRUE(Run(QStringLiteral("notifications\n")));
	FNotificationInfo Kept(QStringLiteral("Map Uploading:  40%"));
	Kept.bFireAndForget = false;
	FNotificationItemPtr Upload = Host->Notifications().AddNotification(Kept);
	Upload->SetCompletionState(ENotificationState::Pending);
	FNotificationInfo Brief(QStringLiteral("Saved \"a\""));
	Brief.ExpireDuration = 0.05;
	Brief.FadeInDuration = 0;
	Brief.FadeOutDuration = 10;
	Host->Notifications().AddNotification(Brief);
	ASSERT_TRUE(Run(QStringLiteral("sleep 0.2\nnotifications\n"))) << qPrintable(Runner->GetError());
	EXPECT_EQ(Output, (QStringList{QStringLiteral(R"({"notifications":[]})"),
	                               QStringLiteral(
	                                   R"({"notifications":[{"id":%1,"text":"Map Uploading:  40%","state":"pending",)"
	                                   R"("phase":"showing","kept":true},{"id":%2,"text":"Saved \"a\"","state":"none",)"
	                                   R"("phase":"fading","kept":false}]})")
	                                   .arg(Upload->GetId())
	                                   .arg(Upload->GetId() + 1)}));
}

TEST_F(ScriptRunnerTest, ScreenshotsAreAddedListedAndWaitedFor)
{
	QImage Picture(7, 5, QImage::Format_ARGB32);
	Picture.fill(qRgba(10, 200, 30, 255));
	QByteArray Png;
	QBuffer Buffer(&Png);
	Buffer.open(QIODevice::WriteOnly);
	ASSERT_TRUE(Picture.save(&Buffer, "png"));
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("shots/shot.png"), Png));
	Sdk().CurrWorkspace.WorldId = QStringLiteral("w1");
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    if (Request.Verb == "POST")
		    {
			    return FLoopbackHttpServer::FAnswer{200, R"({"name":"shot.png","id":"img-9","size":5000000000})"};
		    }
		    return FLoopbackHttpServer::FAnswer{200, "{}"};
	    });

	// @file: names a file beside the script; `image` loads it through the cache as a tile would.
	ASSERT_TRUE(Run(QStringLiteral(R"(
call UOrvaDataCacheSubsystem.AddNewLocalImage @file:shots/shot.png
wait UOrvaDataCacheSubsystem.OnImageUploadEnded
settle
call UOrvaDataCacheSubsystem.GetCurrImageList
expect UOrvaDataCacheSubsystem.GetCurrImageList[0].Id "img-9"
image @UOrvaDataCacheSubsystem.GetCurrImageList[0].Url
)"))) << qPrintable(Runner->GetError());
	const QString Path = Project.RootDir() + QStringLiteral("shots/shot.png");
	const QString Record = QStringLiteral(R"({"Name":"shot.png","Size":5000000000,"Url":"%1","Id":"img-9"})").arg(Path);
	EXPECT_EQ(
	    Output,
	    (QStringList{
	        QStringLiteral(R"({"event":"UOrvaDataCacheSubsystem.OnImageUploadEnded","args":[%1]})").arg(Record),
	        QStringLiteral(
	            R"({"call":"UOrvaDataCacheSubsystem.GetCurrImageList","result":[%1,{"Name":"","Size":0,"Url":"","Id":""}]})")
	            .arg(Record),
	        QStringLiteral(R"({"image":"%1","value":{"SizeX":7,"SizeY":5,"bHasPixels":true}})").arg(Path),
	    }));
	// The upload, then the title image.
	ASSERT_EQ(Server.RequestCount(), 2);
	EXPECT_EQ(Server.Requests()[1].Body, R"({"image_id":"img-9"})");

	EXPECT_FALSE(Run(QStringLiteral("image \"/no/such/file.png\" 0.2\n")));
	EXPECT_EQ(Runner->GetError(), QStringLiteral("Test.orva:1: image: no image after 0.2 s"));
}

namespace
{
// The service's side of two publish uploads: the server pak is stored already; the answer for the
// client pak comes late and is no JSON, which ends that upload with false.
FLoopbackHttpServer::FAnswer AnswerComponentState(const FLoopbackHttpServer::FRecordedRequest& Request)
{
	FLoopbackHttpServer::FAnswer Answer;
	if (Request.Target.endsWith("components/srv-1"))
	{
		Answer.Body = R"({"complete":true})";
		return Answer;
	}
	Answer.Status = 502;
	Answer.Body = "<html>bad gateway</html>";
	Answer.DelayMs = 400;
	return Answer;
}
} // namespace

TEST_F(ScriptRunnerTest, UploadsWaitsForEveryPakUploadAndReportsHowEachEnded)
{
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/Component.json"),
	                  R"({"ComponentId":"srv-1"})");
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsClient/Component.json"),
	                  R"({"ComponentId":"cli-1"})");
	Server.SetHandler(&AnswerComponentState);
	EXPECT_FALSE(Run(QStringLiteral("set UOrvaSDKSubsystem.CurrWorkspace.ObjectPath \"/Game/W1/Maps/Entry.Entry\"\n"
	                                "call UOrvaSDKSubsystem.TaskPublishPaks\nuploads 0.1\n")));
	// The late one at least (the other may have ended by then).
	const QString TimedOut = Runner->GetError();
	EXPECT_TRUE(TimedOut.startsWith(QStringLiteral("Test.orva:3: uploads: "))) << qPrintable(TimedOut);
	EXPECT_TRUE(TimedOut.endsWith(QStringLiteral(" upload(s) still running after 0.1 s"))) << qPrintable(TimedOut);

	// The same uploads are still the ones waited for, and each is reported once.
	Output.clear();
	EXPECT_FALSE(Run(QStringLiteral("uploads 5\n")));
	const QString Paks = Project.ProjectDir() + QStringLiteral("Saved/HotPatcher/Entry/");
	const QString Expected =
	    QString::fromLatin1(R"({"uploads":[{"File":"%1WindowsServer/srv-1.pak","ComponentId":"srv-1","Bucket":"",)"
	                        R"("Key":"","bSuccess":true},{"File":"%1WindowsClient/cli-1.pak","ComponentId":"cli-1",)"
	                        R"("Bucket":"","Key":"","bSuccess":false}]})")
	        .arg(Paks);
	EXPECT_EQ(Output, QStringList({Expected}));
	EXPECT_EQ(Runner->GetError(),
	          QStringLiteral("Test.orva:1: uploads: the upload of %1WindowsClient/cli-1.pak failed").arg(Paks));
	Output.clear();
	EXPECT_TRUE(Run(QStringLiteral("uploads\n"))) << qPrintable(Runner->GetError());
	EXPECT_EQ(Output, QStringList({QStringLiteral("{\"uploads\":[]}")}));
}
