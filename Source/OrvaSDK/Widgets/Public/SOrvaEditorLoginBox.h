#pragma once

#include <QWidget>

class FEditorHost;
class QLabel;
class QLineEdit;
class QPushButton;

// The login form: account and password, the error of the last attempt, and "LOG IN". The account
// is written to "OrvaSDK.ini" on every change; a password found there is shown, never written.
class SOrvaEditorLoginBox : public QWidget
{
	Q_OBJECT

public:
	explicit SOrvaEditorLoginBox(FEditorHost* InHost, QWidget* Parent = nullptr);
	~SOrvaEditorLoginBox() override;

	QSize sizeHint() const override { return QSize(800, 500); }

	void OnUserTextChanged(const QString& Text);
	// Hands the typed account and password to the SDK's Login. Always handled.
	bool OnLoginClicked();
	// Shows "Login Error"; it stays until the box is replaced.
	void ShowLoginError();

	QLineEdit* GetUserText() const { return UserText; }
	QLineEdit* GetPasswordText() const { return PasswordText; }
	QLabel* GetErrorText() const { return ErrorText; }
	QPushButton* GetLoginButton() const { return LoginButton; }

private:
	QString SettingsFile() const;

	FEditorHost* Host;
	QLineEdit* UserText = nullptr;
	QLineEdit* PasswordText = nullptr;
	QLabel* ErrorText = nullptr;
	QPushButton* LoginButton = nullptr;
};
