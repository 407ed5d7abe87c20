#include "EditorFixture.h"

#include "DevServiceProcess.h"

#include <QtTest/QTest>

using DevServiceLogin = FEditorFixture;

// The whole road of a login: keys typed into the real form, the real service checking them, the
// world panel taking the form's place.
TEST_F(DevServiceLogin, LoggingInThroughTheFormShowsTheWorldPanel)
{
	FTestService Service;
	const std::string Problem = Service.Start();
	ASSERT_TRUE(Problem.empty()) << Problem;
	WriteSettings(QByteArray(), QStringLiteral("http://127.0.0.1:%1/api/v1/").arg(Service.Process().Port()));
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	QPointer<SOrvaEditorLoginBox> Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);

	QTest::keyClicks(Box->GetUserText(), QString::fromStdString(AliceEmail));
	QTest::keyClicks(Box->GetPasswordText(), QStringLiteral("not-") + QString::fromStdString(AlicePassword));
	QTest::mouseClick(Box->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Box && Box->GetErrorText()->isVisible(); }, 15000));
	EXPECT_FALSE(Sdk()->IsLoggedin());

	Box->GetPasswordText()->clear();
	QTest::keyClicks(Box->GetPasswordText(), QString::fromStdString(AlicePassword));
	QTest::mouseClick(Box->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return View->GetWorldView() != nullptr; }, 15000));
	FGameThread::RunUntilIdle(20);
	EXPECT_TRUE(Box.isNull());
	EXPECT_EQ(View->GetChild(), View->GetWorldView());
	EXPECT_TRUE(Sdk()->IsLoggedin());
	EXPECT_EQ(View->GetWorldView()->findChild<QLabel*>(QStringLiteral("AccountText"))->text(),
	          QStringLiteral("Account: Alice Example"));
	EXPECT_TRUE(SettingsBytes().contains("alice@example.com"));
	EXPECT_FALSE(SettingsBytes().contains(QByteArray::fromStdString(AlicePassword)));
}
