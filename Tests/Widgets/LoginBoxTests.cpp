#include "EditorFixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest/QTest>

#include <cstdlib>

namespace
{
const QByteArray Refused = R"({"detail":"Incorrect username or password"})";
const QByteArray Token = R"({"access_token":"tok-1","token_type":"bearer"})";
const QByteArray Profile = R"({"display_name":"Alice Example","email":"alice@example.com","is_creator":true})";
} // namespace

class LoginBox : public FEditorFixture
{
protected:
	// What a fresh read of the file on disk finds in "LoginInfo".
	QString SavedLoginText(const QString& Key) const
	{
		FConfigCache Fresh;
		QString Value;
		Fresh.GetText(QStringLiteral("LoginInfo"), Key, Value, Project.RootDir() + SettingsRelative());
		return Value;
	}
};

TEST_F(LoginBox, FirstOpenWithoutSettingsShowsEmptyFieldsAndKeepsTheErrorRow)
{
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	SOrvaEditorLoginBox* Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);
	EXPECT_EQ(View->GetChild(), Box);
	EXPECT_EQ(View->GetWorldView(), nullptr);
	EXPECT_TRUE(Box->GetUserText()->text().isEmpty());
	EXPECT_TRUE(Box->GetPasswordText()->text().isEmpty());
	// In English as the catalogue polishes the source texts.
	EXPECT_EQ(Box->GetUserText()->placeholderText(), QStringLiteral("Email or phone number"));
	EXPECT_EQ(Box->GetPasswordText()->placeholderText(), QStringLiteral("Password"));
	EXPECT_EQ(Box->GetPasswordText()->echoMode(), QLineEdit::Password);
	// The same text size as the world panel's boxes.
	EXPECT_EQ(Box->GetUserText()->font().pointSize(), 13);
	EXPECT_FALSE(Box->GetErrorText()->isVisible());
	EXPECT_EQ(Box->GetErrorText()->text(), QStringLiteral("Login Error"));
	EXPECT_TRUE(Box->GetErrorText()->font().bold());
	EXPECT_GE(Box->GetErrorText()->parentWidget()->height(), 60);
	EXPECT_FALSE(Box->GetLoginButton()->toolTip().isEmpty());
	// The fields take the form's column, centred in the tab.
	FGameThread::RunUntilIdle(20);
	const QRect User(Box->GetUserText()->mapTo(Box, QPoint(0, 0)), Box->GetUserText()->size());
	EXPECT_EQ(User.width(), 420);
	EXPECT_LE(std::abs(User.center().x() - Box->rect().center().x()), 2);
	EXPECT_EQ(Box->GetLoginButton()->findChild<QLabel*>()->text(), QStringLiteral("LOG IN"));
	// Opening the form writes nothing.
	EXPECT_FALSE(Project.Exists(SettingsRelative()));

	// Showing the error moves nothing: its row was there all along.
	const QPoint ButtonAt = Box->GetLoginButton()->mapTo(Box, QPoint(0, 0));
	Box->ShowLoginError();
	FGameThread::RunUntilIdle(20);
	EXPECT_TRUE(Box->GetErrorText()->isVisible());
	EXPECT_EQ(Box->GetLoginButton()->mapTo(Box, QPoint(0, 0)), ButtonAt);
}

TEST_F(LoginBox, AccountIsWrittenOnEveryKeystrokeAndThePasswordNever)
{
	WriteSettings();
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	SOrvaEditorLoginBox* Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);

	QString Typed;
	for (const QChar Key : QStringLiteral("bo@x"))
	{
		QTest::keyClick(Box->GetUserText(), Key.toLatin1());
		Typed += Key;
		// On disk after each key, not only in memory.
		EXPECT_EQ(SavedLoginText(QStringLiteral("User")), Typed);
	}
	QTest::keyClick(Box->GetUserText(), Qt::Key_Backspace);
	EXPECT_EQ(SavedLoginText(QStringLiteral("User")), QStringLiteral("bo@"));
	EXPECT_TRUE(SettingsBytes().contains("ServiceBaseUrl="));

	const QByteArray Before = SettingsBytes();
	QTest::keyClicks(Box->GetPasswordText(), QStringLiteral("s3cret"));
	EXPECT_EQ(Box->GetPasswordText()->text(), QStringLiteral("s3cret"));
	EXPECT_EQ(SettingsBytes(), Before);
	EXPECT_FALSE(SettingsBytes().contains("s3cret"));
	EXPECT_EQ(SavedLoginText(QStringLiteral("Password")), QString());
}

TEST_F(LoginBox, SavedAccountAndPasswordAreShownPasswordMasked)
{
	WriteSettings("[LoginInfo]\nUser=INVTEXT(\"carol@example.com\")\nPassword=NSLOCTEXT(\"\", \"K\", \"pa ss\")\n");
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	SOrvaEditorLoginBox* Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);
	EXPECT_EQ(Box->GetUserText()->text(), QStringLiteral("carol@example.com"));
	EXPECT_EQ(Box->GetPasswordText()->text(), QStringLiteral("pa ss"));
	EXPECT_EQ(Box->GetPasswordText()->echoMode(), QLineEdit::Password);
	EXPECT_NE(Box->GetPasswordText()->displayText(), QStringLiteral("pa ss"));
}

TEST_F(LoginBox, FailuresKeepTheErrorShownAndASuccessReplacesTheForm)
{
	WriteSettings();
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	QPointer<SOrvaEditorLoginBox> Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);
	QTest::keyClicks(Box->GetUserText(), QStringLiteral("alice@example.com"));
	QTest::keyClicks(Box->GetPasswordText(), QStringLiteral("wrong"));

	for (int Attempt = 0; Attempt < 2; ++Attempt)
	{
		SCOPED_TRACE(Attempt);
		Server.Enqueue(401, Refused);
		QTest::mouseClick(Box->GetLoginButton(), Qt::LeftButton);
		ASSERT_TRUE(Server.WaitForRequests(Attempt + 1));
		Settle();
		ASSERT_FALSE(Box.isNull());
		EXPECT_EQ(View->GetLoginBox(), Box.data());
		EXPECT_TRUE(Box->GetErrorText()->isVisible());
		// What was typed stays.
		EXPECT_EQ(Box->GetUserText()->text(), QStringLiteral("alice@example.com"));
		EXPECT_EQ(Box->GetPasswordText()->text(), QStringLiteral("wrong"));
	}
	const QJsonObject Sent = QJsonDocument::fromJson(Server.Requests().last().Body).object();
	EXPECT_EQ(Sent.value(QStringLiteral("email")).toString(), QStringLiteral("alice@example.com"));
	EXPECT_EQ(Sent.value(QStringLiteral("password")).toString(), QStringLiteral("wrong"));

	Server.Enqueue(200, Token);
	Server.Enqueue(200, Profile);
	QTest::mouseClick(Box->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(Server.WaitForRequests(4));
	Settle();
	FGameThread::RunUntilIdle(20);
	EXPECT_TRUE(Box.isNull());
	EXPECT_EQ(View->GetLoginBox(), nullptr);
	ASSERT_NE(View->GetWorldView(), nullptr);
	EXPECT_EQ(View->GetChild(), View->GetWorldView());
	EXPECT_TRUE(View->GetWorldView()->isVisible());
	EXPECT_EQ(View->GetWorldView()->findChild<QLabel*>(QStringLiteral("AccountText"))->text(),
	          QStringLiteral("Account: Alice Example"));
}

TEST_F(LoginBox, LogoutBringsAFreshPrefilledForm)
{
	WriteSettings("[LoginInfo]\nUser=INVTEXT(\"dave@example.com\")\nPassword=INVTEXT(\"pw\")\n");
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	QPointer<SOrvaEditorLoginBox> First = View->GetLoginBox();
	ASSERT_NE(First, nullptr);
	Server.Enqueue(401, Refused);
	QTest::mouseClick(First->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(Server.WaitForRequests(1));
	Settle();
	ASSERT_TRUE(First->GetErrorText()->isVisible());
	QTest::keyClicks(First->GetUserText(), QStringLiteral("x"));

	Server.Enqueue(200, Token);
	Server.Enqueue(200, Profile);
	QTest::mouseClick(First->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(Server.WaitForRequests(3));
	Settle();
	QPointer<SOrvaEditorWorldView> World = View->GetWorldView();
	ASSERT_NE(World, nullptr);
	ASSERT_TRUE(Sdk()->IsLoggedin());

	static_cast<FPolicyDialogService&>(Editor->Host().Dialogs()).QueueAnswer(EAppReturnType::Yes);
	QTest::mouseClick(World->GetBackButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	EXPECT_FALSE(Sdk()->IsLoggedin());
	EXPECT_TRUE(Sdk()->GetAccessToken().isEmpty());
	SOrvaEditorLoginBox* Second = View->GetLoginBox();
	ASSERT_NE(Second, nullptr);
	EXPECT_NE(Second, First.data());
	EXPECT_EQ(View->GetChild(), Second);
	EXPECT_TRUE(Second->isVisible());
	EXPECT_FALSE(Second->GetErrorText()->isVisible());
	// Pre-filled from the file: the account as last typed, the saved password.
	EXPECT_EQ(Second->GetUserText()->text(), QStringLiteral("dave@example.comx"));
	EXPECT_EQ(Second->GetPasswordText()->text(), QStringLiteral("pw"));
	// The detached world panel is kept, hidden, until the next login replaces it.
	ASSERT_FALSE(World.isNull());
	EXPECT_FALSE(World->isVisible());
	EXPECT_EQ(View->GetWorldView(), World.data());
}

TEST_F(LoginBox, LogInWithEmptyFieldsSendsEmptyStrings)
{
	WriteSettings();
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	Server.Enqueue(401, Refused);
	QTest::mouseClick(View->GetLoginBox()->GetLoginButton(), Qt::LeftButton);
	ASSERT_TRUE(Server.WaitForRequests(1));
	EXPECT_EQ(Server.Requests().first().Target, QByteArray("/api/v1/auth/token?role=creator"));
	EXPECT_EQ(Server.Requests().first().Body,
	          QByteArray(R"({"phone":"","grant_type":"password","guest_token":"string","password":""})"));
	Settle();
	EXPECT_TRUE(View->GetLoginBox()->GetErrorText()->isVisible());
}

TEST_F(LoginBox, ViewOpenedWhileLoggedInShowsTheWorldPanel)
{
	WriteSettings();
	StartEditor();
	Server.Enqueue(200, Token);
	Server.Enqueue(200, Profile);
	Sdk()->Login(QStringLiteral("alice@example.com"), QStringLiteral("pw"));
	ASSERT_TRUE(Server.WaitForRequests(2));
	Settle();
	ASSERT_TRUE(Sdk()->IsLoggedin());
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	EXPECT_EQ(View->GetLoginBox(), nullptr);
	ASSERT_NE(View->GetWorldView(), nullptr);
	EXPECT_EQ(View->GetChild(), View->GetWorldView());
	EXPECT_TRUE(Log.Contains(QStringLiteral("SOrvaEditorView::Construct")));

	// Another login while the panel shows brings a fresh panel in its place.
	QPointer<SOrvaEditorWorldView> First = View->GetWorldView();
	Q_EMIT Sdk()->OnLoginStateChanged(true);
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	ASSERT_NE(View->GetWorldView(), nullptr);
	EXPECT_TRUE(First.isNull());
	EXPECT_EQ(View->GetChild(), View->GetWorldView());
	EXPECT_EQ(View->findChildren<SOrvaEditorWorldView*>().size(), 1);
}

TEST_F(LoginBox, EnterLogsInAndTheErrorTellsARefusedPasswordFromAnUnreachableService)
{
	WriteSettings();
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	SOrvaEditorLoginBox* Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);
	QTest::keyClicks(Box->GetUserText(), QStringLiteral("alice@example.com"));
	QTest::keyClicks(Box->GetPasswordText(), QStringLiteral("wrong"));
	Server.Enqueue(401, Refused);
	QTest::keyClick(Box->GetPasswordText(), Qt::Key_Return);
	ASSERT_TRUE(Server.WaitForRequests(1));
	Settle();
	EXPECT_TRUE(Box->GetErrorText()->isVisible());
	EXPECT_EQ(Box->GetErrorText()->text(), QStringLiteral("Login Error"));
	EXPECT_TRUE(Box->GetErrorCause()->isVisible());
	EXPECT_EQ(Box->GetErrorCause()->text(), QStringLiteral("the service answered 401: Incorrect username or password"));

	// The connection breaks: the same form now says the service cannot be reached, and where.
	FLoopbackHttpServer::FAnswer Broken;
	Broken.bDrop = true;
	Broken.Body = Token;
	Server.Enqueue(Broken);
	const QString Url = Server.Url(QStringLiteral("/api/v1/"));
	QTest::keyClick(Box->GetUserText(), Qt::Key_Return);
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Box->GetErrorCause()->text().startsWith(QStringLiteral("cannot reach the service at ")); }, 15000))
	    << Box->GetErrorCause()->text().toStdString();
	EXPECT_TRUE(Url.startsWith(Box->GetErrorCause()->text().mid(28))) << Box->GetErrorCause()->text().toStdString();
	EXPECT_TRUE(Box->GetErrorText()->isVisible());
}
