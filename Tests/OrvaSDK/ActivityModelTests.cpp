#include "SdkFixture.h"

#include "OrvaActivityModel.h"

#include <QDir>
#include <QSignalSpy>

class ActivityModelTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		WriteSettings();
		StartHost();
	}

	UOrvaActivityModel& Model() { return *Sdk().GetActivity(); }

	UEditorStepJob* Step(const QString& Title)
	{
		auto* Job = new UEditorStepJob(Title, &Sdk());
		Job->Start();
		return Job;
	}
};

TEST_F(ActivityModelTest, ARowKeepsTheLogLinesOfItsOwnRunAndARetryReplacesOnlyAnEndedFailure)
{
	UE_LOG(LogTemp, Warning, QStringLiteral("before the step"));
	UEditorStepJob* Job = Step(QStringLiteral("Register the paks of Entry"));
	int Retries = 0;
	const int Id = Model().Track(Job, EOrvaActivityStep::Registration, QStringLiteral("w1"), [&] { ++Retries; });
	UE_LOG(LogTemp, Error, QStringLiteral("the service refused"));
	EXPECT_FALSE(Model().Retry(Id)) << "a running step is not run a second time";
	EXPECT_FALSE(Model().Dismiss(Id)) << "a running step stays listed";
	Job->FinishFailed(QStringLiteral("HTTP 500"));
	UE_LOG(LogTemp, Warning, QStringLiteral("after the step"));

	const FOrvaActivityRow* Row = Model().FindRow(Id);
	ASSERT_NE(Row, nullptr);
	EXPECT_EQ(Row->State, EEditorJobState::Failed);
	EXPECT_EQ(Row->Cause, QStringLiteral("HTTP 500"));
	EXPECT_TRUE(Row->bCanRetry);
	EXPECT_EQ(Model().GetLogLines(Id), QStringList({QStringLiteral("LogTemp: Error: the service refused")}));

	QSignalSpy Removed(&Model(), &UOrvaActivityModel::RowRemoved);
	EXPECT_TRUE(Model().Retry(Id));
	EXPECT_EQ(Retries, 1);
	EXPECT_EQ(Model().FindRow(Id), nullptr);
	EXPECT_EQ(Removed.count(), 1);
	EXPECT_FALSE(Model().Retry(Id));
	EXPECT_EQ(Retries, 1);
}

TEST_F(ActivityModelTest, ALongHistoryDropsOldSuccessesAndKeepsEveryFailure)
{
	UEditorStepJob* Failing = Step(QStringLiteral("Upload the WindowsClient pak (c-1)"));
	const int FailedId = Model().Track(Failing, EOrvaActivityStep::Upload, QStringLiteral("w1"));
	Failing->FinishFailed(QStringLiteral("The store refused the pak"));
	EXPECT_FALSE(Model().FindRow(FailedId)->bCanRetry) << "no retry was given";
	QList<int> Done;
	for (int Index = 0; Index < UOrvaActivityModel::MaxEndedRows + 5; ++Index)
	{
		UEditorStepJob* Job = Step(QStringLiteral("Build Entry"));
		Done.append(Model().Track(Job, EOrvaActivityStep::Build, QStringLiteral("w1")));
		Job->FinishSucceeded();
	}
	EXPECT_EQ(Model().GetRows().size(), UOrvaActivityModel::MaxEndedRows);
	EXPECT_NE(Model().FindRow(FailedId), nullptr);
	EXPECT_EQ(Model().FindRow(Done.first()), nullptr);
	EXPECT_NE(Model().FindRow(Done.last()), nullptr);
	EXPECT_TRUE(Model().Dismiss(FailedId));
	EXPECT_EQ(Model().FindRow(FailedId), nullptr);
}

TEST_F(ActivityModelTest, TheLastOutcomeIsTheNewestConfirmedLevelAndIgnoresBrokenRecords)
{
	const QString Root = Project.SavedDir() + QStringLiteral("HotPatcher/w1/");
	const QString Sha(64, QLatin1Char('a'));
	auto Entry = [&](const char* Id, qint64 Size, const char* At)
	{
		return QStringLiteral(R"({"ComponentId":"%1","Sha256":"%2","Size":%3,"CheckCode":"cc-%1","PublishedAt":"%4"})")
		    .arg(QLatin1String(Id), Sha)
		    .arg(Size)
		    .arg(QLatin1String(At));
	};
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/w1/Old/Published.json"),
	                  QStringLiteral(R"({"Platforms":{"WindowsServer":%1}})")
	                      .arg(Entry("s-old", 10, "2026-01-01T10:00:00Z"))
	                      .toUtf8());
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/w1/Entry/Published.json"),
	                  QStringLiteral(R"({"Platforms":{"WindowsServer":%1,"WindowsClient":%2}})")
	                      .arg(Entry("s-1", 300, "2026-03-01T10:00:00Z"), Entry("c-1", 700, "2026-03-01T10:05:00Z"))
	                      .toUtf8());
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/w1/Broken/Published.json"), "{not json");
	ASSERT_TRUE(QDir(Root + QStringLiteral("Entry")).exists()) << Root.toStdString();

	const FOrvaPublishOutcome Outcome = Model().GetLastOutcome(QStringLiteral("w1"));
	EXPECT_EQ(Outcome.Level, QStringLiteral("Entry"));
	EXPECT_EQ(Outcome.CheckCode, QStringLiteral("cc-c-1"));
	EXPECT_EQ(Outcome.PublishedAt, QDateTime::fromString(QStringLiteral("2026-03-01T10:05:00Z"), Qt::ISODate));
	ASSERT_EQ(Outcome.Paks.size(), 2);
	EXPECT_EQ(Outcome.Paks[0].ComponentId, QStringLiteral("c-1"));
	EXPECT_EQ(Outcome.Paks[0].Size, 700);
	EXPECT_EQ(Outcome.Paks[1].ComponentId, QStringLiteral("s-1"));
	EXPECT_TRUE(Model().GetLastOutcome(QStringLiteral("w2")).IsEmpty());
	EXPECT_TRUE(Model().GetLastOutcome(QStringLiteral("../w1")).IsEmpty());
}
