#include "SOrvaEditorView.h"

#include "EditorHost.h"
#include "Log.h"
#include "OrvaSDKSubsystem.h"
#include "SOrvaEditorLoginBox.h"
#include "SOrvaEditorWorldView.h"

#include <QLabel>
#include <QVBoxLayout>

SOrvaEditorView::SOrvaEditorView(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
    , Layout(new QVBoxLayout(this))
{
	setObjectName(QStringLiteral("SOrvaEditorView"));
	Layout->setContentsMargins(0, 0, 0, 0);
	UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;
	if (Sdk && Sdk->bIsLoggedin)
	{
		WorldView = new SOrvaEditorWorldView(Host);
		SetChild(WorldView);
	}
	else
	{
		LoginBox = new SOrvaEditorLoginBox(Host);
		SetChild(LoginBox);
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("SOrvaEditorView::Construct"));
	if (Sdk)
	{
		// The view as context: a view that is gone is skipped.
		connect(Sdk, &UOrvaSDKSubsystem::OnLoginStateChanged, this, &SOrvaEditorView::HandleLoginStateChanged);
	}
}

SOrvaEditorView::~SOrvaEditorView() = default;

void SOrvaEditorView::SetChild(QWidget* NewChild)
{
	if (Child && Child != NewChild)
	{
		Layout->removeWidget(Child);
		Child->hide();
	}
	Child = NewChild;
	if (Child)
	{
		Child->setParent(this);
		Layout->addWidget(Child);
		Child->show();
	}
}

void SOrvaEditorView::HandleLoginStateChanged(bool bLoggedIn)
{
	if (!bLoggedIn && LoginBox)
	{
		// A failed attempt: the typed account and password stay.
		UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;
		LoginBox->ShowLoginError(Sdk ? Sdk->GetLastLoginError() : QString());
		return;
	}
	if (!bLoggedIn)
	{
		LoginBox = new SOrvaEditorLoginBox(Host);
		SetChild(LoginBox);
		return;
	}
	QPointer<SOrvaEditorWorldView> OldWorldView = WorldView;
	WorldView = new SOrvaEditorWorldView(Host);
	SetChild(WorldView);
	if (OldWorldView)
	{
		OldWorldView->deleteLater();
	}
	if (LoginBox)
	{
		// Later: the login box may be the one whose click is still on the stack.
		LoginBox->deleteLater();
		LoginBox.clear();
	}
}
