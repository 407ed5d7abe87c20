#include "SOrvaEditorWorldView.h"

#include "EditorHost.h"
#include "OrvaSDKSubsystem.h"
#include "Text.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#define LOCTEXT_NAMESPACE "SOrvaEditorWorldView"

namespace
{
QFont RegularFont(int Size)
{
	QFont Font = QApplication::font();
	Font.setPointSize(Size);
	return Font;
}
} // namespace

SOrvaEditorWorldView::SOrvaEditorWorldView(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SOrvaEditorWorldView"));
	auto* Outer = new QVBoxLayout(this);
	Outer->setContentsMargins(4, 2, 4, 2);
	Outer->setSpacing(0);

	auto* BackRow = new QHBoxLayout();
	BackRow->setContentsMargins(20, 9, 20, 9);
	BackButton = new QPushButton(style()->standardIcon(QStyle::SP_ArrowLeft), LOCTEXT("Btn_Back", "Back").ToString());
	BackButton->setObjectName(QStringLiteral("BackButton"));
	BackButton->setFlat(true);
	BackButton->setFont(RegularFont(15));
	connect(BackButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnBackClicked);
	BackRow->addWidget(BackButton);
	BackRow->addStretch(1);
	Outer->addLayout(BackRow);

	auto* HeaderRow = new QHBoxLayout();
	HeaderRow->setContentsMargins(20, 12, 20, 0);
	auto* WorldsText = new QLabel(LOCTEXT("TextBlockWorld", "My Worlds").ToString());
	WorldsText->setFont(RegularFont(18));
	HeaderRow->addWidget(WorldsText);
	HeaderRow->addStretch(1);
	AccountText = new QLabel();
	AccountText->setObjectName(QStringLiteral("AccountText"));
	AccountText->setFont(RegularFont(18));
	HeaderRow->addWidget(AccountText);
	Outer->addLayout(HeaderRow);
	Outer->addStretch(1);

	UpdateAccountText();
	if (UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr)
	{
		connect(Sdk, &UOrvaSDKSubsystem::OnLoginStateChanged, this, [this](bool) { UpdateAccountText(); });
	}
}

SOrvaEditorWorldView::~SOrvaEditorWorldView() = default;

void SOrvaEditorWorldView::UpdateAccountText()
{
	const UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;
	const QString Name = Sdk ? Sdk->GetUserInfoRecord().DisplayName : QString();
	AccountText->setText(LOCTEXT("TextBlockAccount", "Account: {0}").ToString().replace(QStringLiteral("{0}"), Name));
}

void SOrvaEditorWorldView::OnBackClicked()
{
	// The subsystem's logout: logged out, the login state broadcast, the access token emptied.
	if (UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr)
	{
		Sdk->Logout();
	}
}

#undef LOCTEXT_NAMESPACE
