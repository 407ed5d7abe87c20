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

	QSize sizeHint() const override { return QSize(480, 420); }

	void OnUserTextChanged(const QString& Text);
	// Hands the typed account and password to the SDK's Login. Always handled.
	bool OnLoginClicked();
	// Shows "Login Error" and, under it, its cause (a refused password, an unreachable service); it
	// stays until the box is replaced.
	void ShowLoginError(const QString& Cause = QString());

	QLineEdit* GetUserText() const { return UserText; }
	QLineEdit* GetPasswordText() const { return PasswordText; }
	QLabel* GetErrorText() const { return ErrorText; }
	QLabel* GetErrorCause() const { return ErrorCause; }
	QPushButton* GetLoginButton() const { return LoginButton; }

private:
	QString SettingsFile() const;

	FEditorHost* Host;
	QLineEdit* UserText = nullptr;
	QLineEdit* PasswordText = nullptr;
	QLabel* ErrorText = nullptr;
	QLabel* ErrorCause = nullptr;
	QPushButton* LoginButton = nullptr;
};
