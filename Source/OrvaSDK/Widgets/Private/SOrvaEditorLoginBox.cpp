#include "SOrvaEditorLoginBox.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "OrvaSDKStyle.h"
#include "OrvaSDKSubsystem.h"
#include "Text.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#define LOCTEXT_NAMESPACE "SOrvaEditorLoginBox"

namespace
{
const QString LoginSection = QStringLiteral("LoginInfo");

QFont StyleFont(bool bBold, int Size)
{
	QFont Font = QApplication::font();
	Font.setWeight(bBold ? QFont::Bold : QFont::Normal);
	Font.setPointSize(Size);
	return Font;
}

// One slot of the vertical box: Content with the slot's padding, centred both ways.
void AddSlot(QVBoxLayout* Box, QWidget* Content, const QMargins& Padding)
{
	auto* Slot = new QWidget();
	auto* SlotLayout = new QHBoxLayout(Slot);
	SlotLayout->setContentsMargins(Padding);
	SlotLayout->addWidget(Content, 0, Qt::AlignCenter);
	Box->addWidget(Slot, 0, Qt::AlignCenter);
}

// A box of a fixed size whose content is left-aligned and vertically centred.
QWidget* MakeFieldBox(QLineEdit* Field)
{
	auto* Box = new QWidget();
	Box->setFixedSize(700, 60);
	auto* Layout = new QHBoxLayout(Box);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->addWidget(Field, 1, Qt::AlignLeft | Qt::AlignVCenter);
	Field->setMinimumWidth(700);
	return Box;
}
} // namespace

SOrvaEditorLoginBox::SOrvaEditorLoginBox(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SOrvaEditorLoginBox"));
	setMinimumSize(800, 500);

	auto* Outer = new QVBoxLayout(this);
	Outer->setContentsMargins(0, 0, 0, 0);
	auto* Border = new QFrame();
	Border->setObjectName(QStringLiteral("LoginBorder"));
	Border->setStyleSheet(QStringLiteral("QFrame#LoginBorder { background: #242424; border-radius: 4px; }"));
	Outer->addWidget(Border);
	auto* Slots = new QVBoxLayout(Border);
	Slots->setContentsMargins(4, 2, 4, 2);
	Slots->setSpacing(0);

	// 1: the logo.
	auto* Logo = new QLabel();
	Logo->setObjectName(QStringLiteral("Logo"));
	Logo->setFixedSize(125, 125);
	Logo->setScaledContents(true);
	if (FOrvaSDKStyle::IsInitialized())
	{
		if (const FSlateImageBrush* Brush = FOrvaSDKStyle::Get().GetBrush(QStringLiteral("OrvaSDK.Logo")))
		{
			Logo->setPixmap(Brush->GetPixmap());
		}
	}
	AddSlot(Slots, Logo, QMargins(0, 15, 0, 0));

	// 2, 3: account and password.
	UserText = new QLineEdit();
	UserText->setObjectName(QStringLiteral("UserText"));
	UserText->setPlaceholderText(LOCTEXT("HintText_User", "Email or PhoneNumber:").ToString());
	UserText->setFont(StyleFont(false, 32));
	AddSlot(Slots, MakeFieldBox(UserText), QMargins(50, 20, 0, 0));

	PasswordText = new QLineEdit();
	PasswordText->setObjectName(QStringLiteral("PasswordText"));
	PasswordText->setPlaceholderText(LOCTEXT("HintText_Password", "Password:").ToString());
	PasswordText->setFont(StyleFont(false, 32));
	PasswordText->setEchoMode(QLineEdit::Password);
	AddSlot(Slots, MakeFieldBox(PasswordText), QMargins(50, 15, 0, 0));

	// 4: the error, hidden until an attempt fails; its row is kept so nothing moves when it shows.
	auto* ErrorBox = new QWidget();
	ErrorBox->setObjectName(QStringLiteral("ErrorBox"));
	ErrorBox->setFixedHeight(60);
	auto* ErrorLayout = new QHBoxLayout(ErrorBox);
	ErrorLayout->setContentsMargins(0, 0, 0, 0);
	ErrorText = new QLabel(LOCTEXT("Orva_LoginError", "Login Error").ToString());
	ErrorText->setObjectName(QStringLiteral("ErrorText"));
	ErrorText->setFont(StyleFont(true, 24));
	QSizePolicy Keep = ErrorText->sizePolicy();
	Keep.setRetainSizeWhenHidden(true);
	ErrorText->setSizePolicy(Keep);
	ErrorLayout->addWidget(ErrorText, 0, Qt::AlignCenter);
	ErrorText->hide();
	AddSlot(Slots, ErrorBox, QMargins(0, 25, 0, 0));

	// 5: the button.
	LoginButton = new QPushButton();
	LoginButton->setObjectName(QStringLiteral("LoginButton"));
	LoginButton->setFixedSize(200, 70);
	auto* ButtonLayout = new QHBoxLayout(LoginButton);
	ButtonLayout->setContentsMargins(4, 2, 4, 2);
	auto* ButtonText = new QLabel(LOCTEXT("Login", "LOG IN").ToString());
	ButtonText->setObjectName(QStringLiteral("LoginText"));
	ButtonText->setFont(StyleFont(true, 27));
	ButtonText->setAlignment(Qt::AlignCenter);
	ButtonText->setAttribute(Qt::WA_TransparentForMouseEvents);
	ButtonLayout->addWidget(ButtonText, 0, Qt::AlignCenter);
	connect(LoginButton, &QPushButton::clicked, this, [this] { OnLoginClicked(); });
	AddSlot(Slots, LoginButton, QMargins(0, 20, 0, 25));
	Slots->addStretch(1);

	if (FConfigCache* Config = Host ? Host->GetConfig() : nullptr)
	{
		const QString File = SettingsFile();
		QString User;
		QString Password;
		Config->GetText(LoginSection, QStringLiteral("User"), User, File);
		Config->GetText(LoginSection, QStringLiteral("Password"), Password, File);
		UserText->setText(User);
		PasswordText->setText(Password);
	}
	// Connected after the fill, so opening the form writes nothing.
	connect(UserText, &QLineEdit::textChanged, this, &SOrvaEditorLoginBox::OnUserTextChanged);
}

SOrvaEditorLoginBox::~SOrvaEditorLoginBox() = default;

QString SOrvaEditorLoginBox::SettingsFile() const
{
	if (UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr)
	{
		return Sdk->GetSettingsFilePath();
	}
	return FPaths::ConvertRelativePathToFull(
	    FPaths::Combine(Host->Paths().UserSettingsDir(), QStringLiteral("BrackenfoldStudios/ORVA/OrvaSDK.ini")));
}

void SOrvaEditorLoginBox::OnUserTextChanged(const QString& Text)
{
	FConfigCache* Config = Host ? Host->GetConfig() : nullptr;
	if (!Config)
	{
		return;
	}
	const QString File = SettingsFile();
	// The file also holds the access token.
	Config->MarkPrivate(File);
	Config->SetText(LoginSection, QStringLiteral("User"), Text, File);
	Config->Flush(false, File);
}

bool SOrvaEditorLoginBox::OnLoginClicked()
{
	if (!UserText || !PasswordText)
	{
		return true;
	}
	const QString User = UserText->text();
	const QString Password = PasswordText->text();
	if (UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr)
	{
		Sdk->Login(User, Password);
	}
	return true;
}

void SOrvaEditorLoginBox::ShowLoginError()
{
	ErrorText->show();
}

#undef LOCTEXT_NAMESPACE
