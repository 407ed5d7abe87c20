#include "SOrvaEditorLoginBox.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "OrvaSDKSettings.h"
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
QFont StyleFont(bool bBold, int Size)
{
	QFont Font = QApplication::font();
	Font.setWeight(bBold ? QFont::Bold : QFont::Normal);
	Font.setPointSize(Size);
	return Font;
}

// The form's column: as wide as the tab allows up to this, centred.
constexpr int ColumnWidth = 420;
// The same text sizes as the world panel's boxes and buttons.
constexpr int FieldFontSize = 13;
constexpr int ButtonFontSize = 14;

// One slot of the vertical box: Content with the slot's padding, centred horizontally.
void AddSlot(QVBoxLayout* Box, QWidget* Content, const QMargins& Padding)
{
	auto* Slot = new QWidget();
	auto* SlotLayout = new QHBoxLayout(Slot);
	SlotLayout->setContentsMargins(Padding);
	SlotLayout->addWidget(Content, 0, Qt::AlignHCenter);
	Box->addWidget(Slot);
}

// A slot whose field takes the column's width (less when the tab is narrower), centred.
void AddFieldSlot(QVBoxLayout* Box, QWidget* Field, const QMargins& Padding)
{
	auto* Slot = new QWidget();
	auto* SlotLayout = new QHBoxLayout(Slot);
	SlotLayout->setContentsMargins(Padding);
	SlotLayout->addStretch(1);
	SlotLayout->addWidget(Field, 100);
	SlotLayout->addStretch(1);
	Box->addWidget(Slot);
}

// A field that grows with the tab up to the column's width, never wider than the tab.
QWidget* MakeFieldBox(QLineEdit* Field)
{
	Field->setMinimumWidth(160);
	Field->setMaximumWidth(ColumnWidth);
	Field->setMinimumHeight(36);
	Field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	return Field;
}
} // namespace

SOrvaEditorLoginBox::SOrvaEditorLoginBox(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SOrvaEditorLoginBox"));

	auto* Outer = new QVBoxLayout(this);
	Outer->setContentsMargins(0, 0, 0, 0);
	auto* Border = new QFrame();
	Border->setObjectName(QStringLiteral("LoginBorder"));
	Border->setStyleSheet(QStringLiteral("QFrame#LoginBorder { background: #242424; border-radius: 4px; }"));
	Outer->addWidget(Border);
	auto* Slots = new QVBoxLayout(Border);
	Slots->setContentsMargins(12, 2, 12, 2);
	Slots->setSpacing(0);
	// The form sits in the middle of the tab, however tall it is.
	Slots->addStretch(1);

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
	AddSlot(Slots, Logo, QMargins(0, 15, 0, 10));

	// 2, 3: account and password.
	UserText = new QLineEdit();
	UserText->setObjectName(QStringLiteral("UserText"));
	UserText->setPlaceholderText(LOCTEXT("HintText_User", "Email or PhoneNumber:").ToString());
	UserText->setFont(StyleFont(false, FieldFontSize));
	UserText->setToolTip(
	    LOCTEXT("HintText_User_Tooltip", "The e-mail address or phone number of your ORVA account").ToString());
	AddFieldSlot(Slots, MakeFieldBox(UserText), QMargins(0, 10, 0, 0));

	PasswordText = new QLineEdit();
	PasswordText->setObjectName(QStringLiteral("PasswordText"));
	PasswordText->setPlaceholderText(LOCTEXT("HintText_Password", "Password:").ToString());
	PasswordText->setFont(StyleFont(false, FieldFontSize));
	PasswordText->setEchoMode(QLineEdit::Password);
	AddFieldSlot(Slots, MakeFieldBox(PasswordText), QMargins(0, 10, 0, 0));

	// 4: the error, hidden until an attempt fails; its row is kept so nothing moves when it shows.
	auto* ErrorBox = new QWidget();
	ErrorBox->setObjectName(QStringLiteral("ErrorBox"));
	ErrorBox->setMinimumHeight(60);
	ErrorBox->setMaximumWidth(ColumnWidth);
	auto* ErrorLayout = new QVBoxLayout(ErrorBox);
	ErrorLayout->setContentsMargins(0, 0, 0, 0);
	ErrorLayout->setSpacing(2);
	ErrorText = new QLabel(LOCTEXT("Orva_LoginError", "Login Error").ToString());
	ErrorText->setObjectName(QStringLiteral("ErrorText"));
	ErrorText->setFont(StyleFont(true, ButtonFontSize));
	ErrorText->setStyleSheet(QStringLiteral("color: #ff6b6b;"));
	QSizePolicy Keep = ErrorText->sizePolicy();
	Keep.setRetainSizeWhenHidden(true);
	ErrorText->setSizePolicy(Keep);
	ErrorLayout->addWidget(ErrorText, 0, Qt::AlignHCenter);
	ErrorText->hide();
	// Why: the service's own answer, or that it cannot be reached.
	ErrorCause = new QLabel();
	ErrorCause->setObjectName(QStringLiteral("ErrorCause"));
	ErrorCause->setFont(StyleFont(false, 11));
	ErrorCause->setWordWrap(true);
	ErrorCause->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
	ErrorCause->setTextInteractionFlags(Qt::TextSelectableByMouse);
	ErrorCause->hide();
	ErrorLayout->addWidget(ErrorCause);
	auto* ErrorSlot = new QWidget();
	auto* ErrorSlotLayout = new QHBoxLayout(ErrorSlot);
	ErrorSlotLayout->setContentsMargins(0, 12, 0, 0);
	ErrorSlotLayout->addWidget(ErrorBox);
	Slots->addWidget(ErrorSlot);

	// 5: the button.
	LoginButton = new QPushButton();
	LoginButton->setObjectName(QStringLiteral("LoginButton"));
	LoginButton->setFixedSize(160, 44);
	LoginButton->setToolTip(LOCTEXT("Login_Tooltip", "Log in to ORVA (Enter)").ToString());
	auto* ButtonLayout = new QHBoxLayout(LoginButton);
	ButtonLayout->setContentsMargins(4, 2, 4, 2);
	auto* ButtonText = new QLabel(LOCTEXT("Login", "LOG IN").ToString());
	ButtonText->setObjectName(QStringLiteral("LoginText"));
	ButtonText->setFont(StyleFont(true, ButtonFontSize));
	ButtonText->setAlignment(Qt::AlignCenter);
	ButtonText->setAttribute(Qt::WA_TransparentForMouseEvents);
	ButtonLayout->addWidget(ButtonText, 0, Qt::AlignCenter);
	connect(LoginButton, &QPushButton::clicked, this, [this] { OnLoginClicked(); });
	// Enter in either field logs in, as the button does.
	connect(UserText, &QLineEdit::returnPressed, this, [this] { OnLoginClicked(); });
	connect(PasswordText, &QLineEdit::returnPressed, this, [this] { OnLoginClicked(); });
	AddSlot(Slots, LoginButton, QMargins(0, 12, 0, 25));
	Slots->addStretch(1);

	if (FConfigCache* Config = Host ? Host->GetConfig() : nullptr)
	{
		const QString File = SettingsFile();
		UserText->setText(OrvaSDKSettings::User.Get(*Config, File));
		PasswordText->setText(OrvaSDKSettings::Password.Get(*Config, File));
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
	return OrvaSDKSettings::SettingsFilePath(Host->Paths().UserSettingsDir());
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
	OrvaSDKSettings::User.Set(*Config, File, Text);
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

void SOrvaEditorLoginBox::ShowLoginError(const QString& Cause)
{
	ErrorText->show();
	ErrorCause->setText(Cause);
	ErrorCause->setVisible(!Cause.isEmpty());
}

#undef LOCTEXT_NAMESPACE
