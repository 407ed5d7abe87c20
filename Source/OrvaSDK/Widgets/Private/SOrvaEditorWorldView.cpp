#include "SOrvaEditorWorldView.h"

#include "AppStyle.h"
#include "AssetRegistry.h"
#include "EditorHost.h"
#include "ExpandableArea.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "SOrvaThumbnail.h"
#include "Text.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#define LOCTEXT_NAMESPACE "SOrvaEditorWorldView"

namespace
{
// How often the bound values are read again while the panel is shown.
constexpr int BindingIntervalMs = 100;
const QSizeF WorldTileSize(120.0, 80.0);
const QSizeF ScreenshotTileSize(189.3, 120.0);
// The grid's cells; a tile larger than a cell gets a cell of its own size, so tiles never overlap.
constexpr int ScreenshotCellSize = 108;

QFont RegularFont(int Size)
{
	QFont Font = QApplication::font();
	Font.setWeight(QFont::Normal);
	Font.setPointSize(Size);
	return Font;
}

QLabel* MakeText(const FText& Text, int Size)
{
	auto* Label = new QLabel(Text.ToString());
	Label->setFont(RegularFont(Size));
	return Label;
}

// A row of a vertical box with the slot's padding.
QWidget* Padded(QWidget* Content, const QMargins& Padding)
{
	auto* Slot = new QWidget();
	auto* Layout = new QHBoxLayout(Slot);
	Layout->setContentsMargins(Padding);
	Layout->setSpacing(0);
	Layout->addWidget(Content);
	return Slot;
}

QSize RoundedSize(const QSizeF& Size)
{
	return QSize(int(std::lround(Size.width())), int(std::lround(Size.height())));
}

// A button whose content is a brush image and, optionally, a text beside it.
QPushButton* MakeImageButton(const QString& BrushName, const QString& Text = QString(), int FontSize = 0)
{
	auto* Button = new QPushButton();
	FAppStyle::ApplyButtonStyle(Button, QStringLiteral("NoBorder"));
	Button->setIcon(FAppStyle::GetIcon(BrushName));
	Button->setIconSize(FAppStyle::GetBrushSize(BrushName));
	if (!Text.isEmpty())
	{
		Button->setText(Text);
		Button->setFont(RegularFont(FontSize));
	}
	return Button;
}

QString ProgressWords(EOrvaSDKProgress Progress)
{
	switch (Progress)
	{
	case EOrvaSDKProgress::None:
		return QString();
	case EOrvaSDKProgress::FolderMoving:
		return LOCTEXT("Progress_FolderMoving", "Moving the map's folders...").ToString();
	case EOrvaSDKProgress::FolderMovFailed:
		return LOCTEXT("Progress_FolderMovFailed", "Moving the folders failed").ToString();
	case EOrvaSDKProgress::FolderMoveSuccess:
		return LOCTEXT("Progress_FolderMoveSuccess", "Folders moved").ToString();
	case EOrvaSDKProgress::AssetPaking:
		return LOCTEXT("Progress_AssetPaking", "Building the paks...").ToString();
	case EOrvaSDKProgress::AssetPakFailed:
		return LOCTEXT("Progress_AssetPakFailed", "Pak build failed").ToString();
	case EOrvaSDKProgress::AssetPakSuccess:
		return LOCTEXT("Progress_AssetPakSuccess", "Paks built").ToString();
	case EOrvaSDKProgress::PakUploading:
		return LOCTEXT("Progress_PakUploading", "Uploading the paks...").ToString();
	case EOrvaSDKProgress::PakUploadFailed:
		return LOCTEXT("Progress_PakUploadFailed", "Pak upload failed").ToString();
	case EOrvaSDKProgress::PakUploadSuccess:
		return LOCTEXT("Progress_PakUploadSuccess", "Paks uploaded").ToString();
	}
	return QString();
}

bool IsRunningStage(EOrvaSDKProgress Progress)
{
	return Progress == EOrvaSDKProgress::FolderMoving || Progress == EOrvaSDKProgress::AssetPaking ||
	       Progress == EOrvaSDKProgress::PakUploading;
}

void SetVisibleIfChanged(QWidget* Widget, bool bVisible)
{
	if (Widget->isHidden() == bVisible)
	{
		Widget->setVisible(bVisible);
	}
}

void SetEnabledIfChanged(QWidget* Widget, bool bEnabled)
{
	if (Widget->isEnabled() != bEnabled)
	{
		Widget->setEnabled(bEnabled);
	}
}

void SetTextIfChanged(QLabel* Label, const QString& Text)
{
	if (Label->text() != Text)
	{
		Label->setText(Text);
	}
}
} // namespace

SOrvaEditorWorldView::SOrvaEditorWorldView(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SOrvaEditorWorldView"));
	PrivacyOptions = {QStringLiteral("Private"), QStringLiteral("Public")};
	PrivacySelection = QStringLiteral("Private");

	auto* Outer = new QVBoxLayout(this);
	Outer->setContentsMargins(0, 0, 0, 0);
	auto* Border = new QFrame();
	Border->setObjectName(QStringLiteral("WorldViewBorder"));
	Border->setStyleSheet(QStringLiteral("QFrame#WorldViewBorder { background: #242424; border-radius: 4px; }"));
	Outer->addWidget(Border);
	auto* Slots = new QVBoxLayout(Border);
	Slots->setContentsMargins(4, 2, 4, 2);
	Slots->setSpacing(0);

	// 1: Back.
	{
		auto* Row = new QWidget();
		auto* Layout = new QHBoxLayout(Row);
		Layout->setContentsMargins(20, 9, 20, 9);
		BackButton = MakeImageButton(QStringLiteral("Icons.ChevronLeft"), LOCTEXT("Btn_Back", "Back").ToString(), 15);
		BackButton->setObjectName(QStringLiteral("BackButton"));
		connect(BackButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnBackClicked);
		Layout->addWidget(BackButton);
		Layout->addStretch(1);
		Slots->addWidget(Row);
	}

	// 2: the world strip under its header.
	{
		auto* Box = new QWidget();
		Box->setObjectName(QStringLiteral("WorldsBox"));
		Box->setFixedHeight(134);
		auto* Layout = new QVBoxLayout(Box);
		Layout->setContentsMargins(0, 0, 0, 0);
		Layout->setSpacing(2);
		auto* Header = new QHBoxLayout();
		Header->addWidget(MakeText(LOCTEXT("TextBlockWorld", "My Worlds"), 18));
		Header->addStretch(1);
		AccountText = MakeText(FText(), 18);
		AccountText->setObjectName(QStringLiteral("AccountText"));
		Header->addWidget(AccountText);
		Layout->addLayout(Header);

		WorldListView = new QListWidget();
		WorldListView->setObjectName(QStringLiteral("WorldListView"));
		WorldListView->setViewMode(QListView::IconMode);
		WorldListView->setFlow(QListView::LeftToRight);
		WorldListView->setWrapping(false);
		WorldListView->setMovement(QListView::Static);
		WorldListView->setSelectionMode(QAbstractItemView::SingleSelection);
		WorldListView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
		WorldListView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
		WorldListView->setSpacing(2);
		WorldListView->setFrameShape(QFrame::NoFrame);
		WorldListView->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"
		                                            "QListWidget::item:selected { background: #268bd2; }"));
		connect(WorldListView, &QListWidget::itemSelectionChanged, this,
		        [this]
		        {
			        const QList<QListWidgetItem*> Selected = WorldListView->selectedItems();
			        const int Row = Selected.isEmpty() ? -1 : WorldListView->row(Selected.first());
			        HandleWorldSelected(Row >= 0 && Row < ShownWorlds.size() ? ShownWorlds[Row] : nullptr);
		        });
		Layout->addWidget(WorldListView, 1);
		Slots->addWidget(Padded(Box, QMargins(20, 12, 20, 0)));
	}

	// 3: a spacer.
	Slots->addSpacing(6);

	// 4: the editing area.
	{
		auto* Scroll = new QScrollArea();
		Scroll->setObjectName(QStringLiteral("InfoScroll"));
		Scroll->setWidgetResizable(true);
		Scroll->setFrameShape(QFrame::NoFrame);
		Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
		auto* ScrollContent = new QWidget();
		ScrollContent->setObjectName(QStringLiteral("InfoScrollContent"));
		ScrollContent->setStyleSheet(QStringLiteral("QWidget#InfoScrollContent { background: transparent; }"));
		auto* ScrollLayout = new QVBoxLayout(ScrollContent);
		ScrollLayout->setContentsMargins(0, 0, 0, 0);

		InfoArea = new QFrame();
		InfoArea->setObjectName(QStringLiteral("InfoArea"));
		InfoArea->setFrameShape(QFrame::NoFrame);
		auto* Info = new QVBoxLayout(InfoArea);
		Info->setContentsMargins(0, 0, 0, 0);
		Info->setSpacing(0);

		// The title row.
		auto* TitleRow = new QHBoxLayout();
		CloseButton = MakeImageButton(QStringLiteral("Icons.X"));
		CloseButton->setObjectName(QStringLiteral("CloseButton"));
		connect(CloseButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnCloseClicked);
		TitleRow->addWidget(CloseButton);
		TitleRow->addStretch(1);
		TitleText = MakeText(FText(), 18);
		TitleText->setObjectName(QStringLiteral("TitleText"));
		TitleRow->addWidget(TitleText);
		PrivacyCombo = new QComboBox();
		PrivacyCombo->setObjectName(QStringLiteral("PrivacyCombo"));
		PrivacyCombo->addItems(PrivacyOptions);
		PrivacyCombo->setCurrentIndex(int(PrivacyOptions.indexOf(PrivacySelection)));
		connect(PrivacyCombo, &QComboBox::activated, this,
		        [this](int Index) { HandlePrivacyChanged(PrivacyOptions.value(Index)); });
		TitleRow->addWidget(PrivacyCombo);
		TitleRow->addStretch(1);
		Info->addLayout(TitleRow);

		InformationArea = new SExpandableArea(LOCTEXT("AreaInformation", "Information").ToString());
		InformationArea->setObjectName(QStringLiteral("InformationArea"));
		InformationArea->SetTitleFont(RegularFont(16));
		InformationArea->SetBodyContent(BuildInformation());
		Info->addWidget(InformationArea);

		UploadArea = new SExpandableArea(QString());
		UploadArea->setObjectName(QStringLiteral("UploadArea"));
		UploadArea->SetTitleFont(RegularFont(16));
		UploadArea->SetBodyContent(BuildUpload());
		Info->addWidget(Padded(UploadArea, QMargins(0, 30, 0, 0)));
		Info->addStretch(1);

		ScrollLayout->addWidget(InfoArea);
		ScrollLayout->addStretch(1);
		Scroll->setWidget(ScrollContent);
		Slots->addWidget(Scroll, 1);
	}

	// 5, 6: the action bar and the world-id row.
	Slots->addWidget(BuildActionBar());
	Slots->addWidget(BuildWorldIdRow());

	RefreshWorldList();

	BindingTimer = new QTimer(this);
	BindingTimer->setInterval(BindingIntervalMs);
	connect(BindingTimer, &QTimer::timeout, this, &SOrvaEditorWorldView::UpdateBoundState);

	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		WorldNameBox->setText(Subsystem->CurrWorkspace.TitleName);
		DescriptionBox->setPlainText(Subsystem->CurrWorkspace.Description);
		// The panel as context: a panel that is gone is skipped.
		connect(Subsystem, &UOrvaSDKSubsystem::OnWorldsListUpdated, this, &SOrvaEditorWorldView::RefreshWorldList);
		Subsystem->GetWorldsList();
		connect(Subsystem, &UOrvaSDKSubsystem::OnScreenshotsUpdated, this, &SOrvaEditorWorldView::RefreshScreenshots);
		connect(Subsystem, &UOrvaSDKSubsystem::OnWorkspaceChanged, this, &SOrvaEditorWorldView::HandleWorkspaceChanged);
	}
	// Connected after the fill, so opening the panel writes nothing.
	connect(WorldNameBox, &QLineEdit::textChanged, this, &SOrvaEditorWorldView::OnWorldNameChanged);
	connect(WorldNameBox, &QLineEdit::editingFinished, this, [this] { OnWorldNameChanged(WorldNameBox->text()); });
	connect(DescriptionBox, &QPlainTextEdit::textChanged, this, &SOrvaEditorWorldView::OnDescriptionChanged);
	UpdateBoundState();
}

SOrvaEditorWorldView::~SOrvaEditorWorldView() = default;

UOrvaSDKSubsystem* SOrvaEditorWorldView::Sdk() const
{
	return Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;
}

UOrvaDataCacheSubsystem* SOrvaEditorWorldView::DataCache() const
{
	return Host ? Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>() : nullptr;
}

QWidget* SOrvaEditorWorldView::BuildInformation()
{
	auto* Body = new QWidget();
	auto* Layout = new QVBoxLayout(Body);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->setSpacing(0);
	Layout->addWidget(Padded(MakeText(LOCTEXT("TextBlockName", "Name"), 10), QMargins(30, 12, 30, 0)));
	WorldNameBox = new QLineEdit();
	WorldNameBox->setObjectName(QStringLiteral("WorldNameBox"));
	WorldNameBox->setPlaceholderText(LOCTEXT("HintTextTitle", "World Name").ToString());
	WorldNameBox->setFont(RegularFont(13));
	Layout->addWidget(Padded(WorldNameBox, QMargins(30, 0, 30, 0)));
	Layout->addWidget(Padded(MakeText(LOCTEXT("TextBlockDescription", "Description"), 10), QMargins(30, 18, 30, 0)));
	DescriptionBox = new QPlainTextEdit();
	DescriptionBox->setObjectName(QStringLiteral("DescriptionBox"));
	DescriptionBox->setPlaceholderText(
	    LOCTEXT("HintTextDescription", "Write something to description your World ...").ToString());
	DescriptionBox->setFont(RegularFont(13));
	DescriptionBox->setFixedHeight(96);
	Layout->addWidget(Padded(DescriptionBox, QMargins(30, 0, 30, 0)));
	Layout->addWidget(Padded(MakeText(LOCTEXT("TextBlockScreenshots", "Screenshots"), 10), QMargins(30, 18, 30, 0)));
	ScreenshotTileView = new QListWidget();
	ScreenshotTileView->setObjectName(QStringLiteral("ScreenshotTileView"));
	ScreenshotTileView->setViewMode(QListView::IconMode);
	ScreenshotTileView->setFlow(QListView::LeftToRight);
	ScreenshotTileView->setWrapping(true);
	ScreenshotTileView->setResizeMode(QListView::Adjust);
	ScreenshotTileView->setMovement(QListView::Static);
	ScreenshotTileView->setSelectionMode(QAbstractItemView::NoSelection);
	ScreenshotTileView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	ScreenshotTileView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	ScreenshotTileView->setFrameShape(QFrame::NoFrame);
	ScreenshotTileView->setSpacing(0);
	ScreenshotTileView->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
	Layout->addWidget(Padded(ScreenshotTileView, QMargins(30, 0, 30, 12)));
	// Reading the list logs "ImageList Generated".
	RefreshScreenshots();
	return Body;
}

QWidget* SOrvaEditorWorldView::BuildUpload()
{
	UploadBody = new QWidget();
	UploadBody->setObjectName(QStringLiteral("UploadBody"));
	auto* Layout = new QVBoxLayout(UploadBody);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->setSpacing(0);
	Layout->addWidget(Padded(MakeText(LOCTEXT("TextBlockScene", "Scene(Entry Map)"), 10), QMargins(30, 12, 30, 0)));

	auto* Row = new QWidget();
	auto* RowLayout = new QHBoxLayout(Row);
	RowLayout->setContentsMargins(0, 0, 0, 0);
	auto* PickerBox = new QWidget();
	PickerBox->setObjectName(QStringLiteral("EntryMapBox"));
	PickerBox->setFixedHeight(50);
	auto* PickerLayout = new QHBoxLayout(PickerBox);
	PickerLayout->setContentsMargins(6, 6, 6, 6);
	if (Host)
	{
		SObjectPropertyEntryBox::FArguments Args;
		Args.AllowedClass = UWorld::StaticClass();
		Args.ObjectPath = [this]
		{
			const UOrvaSDKSubsystem* Subsystem = Sdk();
			return Subsystem ? Subsystem->CurrWorkspace.ObjectPath.ToString() : QString();
		};
		EntryMapPicker = new SObjectPropertyEntryBox(Host->AssetRegistry(), std::move(Args));
		EntryMapPicker->setObjectName(QStringLiteral("EntryMapPicker"));
		connect(EntryMapPicker, &SObjectPropertyEntryBox::OnObjectChanged, this,
		        &SOrvaEditorWorldView::HandleEntryMapChanged);
		PickerLayout->addWidget(EntryMapPicker);
	}
	RowLayout->addWidget(PickerBox, 1);

	BuildButton = new QPushButton(LOCTEXT("BtnBuild", "Build").ToString());
	BuildButton->setObjectName(QStringLiteral("BuildButton"));
	BuildButton->setFont(RegularFont(16));
	connect(BuildButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (UOrvaSDKSubsystem* Subsystem = Sdk())
		        {
			        Subsystem->BuildPak();
			        UpdateBoundState();
		        }
	        });
	RowLayout->addWidget(BuildButton);

	// What the current workspace's task is doing: the SDK records it rather than telling.
	ProgressThrobber =
	    new SOrvaSpinningImage(FAppStyle::GetBrush(QStringLiteral("NotificationList.Throbber"), QSize(20, 20)));
	ProgressThrobber->setObjectName(QStringLiteral("ProgressThrobber"));
	ProgressThrobber->hide();
	auto* Spin = new QVariantAnimation(ProgressThrobber);
	Spin->setStartValue(0.0);
	Spin->setEndValue(2.0 * 3.1415927);
	Spin->setDuration(1000);
	Spin->setLoopCount(-1);
	connect(Spin, &QVariantAnimation::valueChanged, ProgressThrobber,
	        [this](const QVariant& Value) { ProgressThrobber->SetAngle(Value.toDouble()); });
	Spin->start();
	RowLayout->addSpacing(8);
	RowLayout->addWidget(ProgressThrobber);
	ProgressLabel = new QLabel();
	ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
	ProgressLabel->setFont(RegularFont(11));
	ProgressLabel->setMinimumWidth(170);
	RowLayout->addWidget(ProgressLabel);
	RowLayout->addSpacing(24);
	Layout->addWidget(Row);
	return UploadBody;
}

QWidget* SOrvaEditorWorldView::BuildActionBar()
{
	ActionBar = new QWidget();
	ActionBar->setObjectName(QStringLiteral("ActionBar"));
	auto* Layout = new QHBoxLayout(ActionBar);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->setSpacing(0);
	Layout->addStretch(1);

	auto* LaunchGroup = new QWidget();
	auto* GroupLayout = new QHBoxLayout(LaunchGroup);
	GroupLayout->setContentsMargins(0, 0, 10, 20);
	GroupLayout->setSpacing(0);
	LaunchButton = new QPushButton(LOCTEXT("Launch", "Launch ORVA").ToString());
	LaunchButton->setObjectName(QStringLiteral("LaunchButton"));
	FAppStyle::ApplyButtonStyle(LaunchButton, QStringLiteral("SlimToolBar"));
	LaunchButton->setFont(RegularFont(16));
	connect(LaunchButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (UOrvaSDKSubsystem* Subsystem = Sdk())
		        {
			        Subsystem->TaskLaunchORVA();
		        }
	        });
	GroupLayout->addWidget(LaunchButton);
	LaunchCombo = new QToolButton();
	LaunchCombo->setObjectName(QStringLiteral("LaunchCombo"));
	FAppStyle::ApplyButtonStyle(LaunchCombo, QStringLiteral("SlimToolBar"));
	LaunchCombo->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.ChevronDown")));
	LaunchCombo->setPopupMode(QToolButton::InstantPopup);
	LaunchCombo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
	LaunchMenu = new QMenu(LaunchCombo);
	LaunchMenu->setObjectName(QStringLiteral("LaunchMenu"));
	LaunchMenu->setToolTipsVisible(true);
	connect(LaunchMenu, &QMenu::aboutToShow, this, &SOrvaEditorWorldView::BuildLaunchMenu);
	LaunchCombo->setMenu(LaunchMenu);
	GroupLayout->addWidget(LaunchCombo);
	Layout->addWidget(LaunchGroup);

	PublishButton = new QPushButton(LOCTEXT("BtnPublish", "Publish").ToString());
	PublishButton->setObjectName(QStringLiteral("PublishButton"));
	PublishButton->setFont(RegularFont(16));
	connect(PublishButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (UOrvaSDKSubsystem* Subsystem = Sdk())
		        {
			        Subsystem->TaskPublishPaks();
		        }
	        });
	Layout->addWidget(Padded(PublishButton, QMargins(0, 0, 30, 20)));
	return ActionBar;
}

QWidget* SOrvaEditorWorldView::BuildWorldIdRow()
{
	WorldIdRow = new QWidget();
	WorldIdRow->setObjectName(QStringLiteral("WorldIdRow"));
	auto* Layout = new QHBoxLayout(WorldIdRow);
	Layout->setContentsMargins(0, 0, 0, 0);
	WorldIdButton = new QPushButton();
	WorldIdButton->setObjectName(QStringLiteral("WorldIdButton"));
	FAppStyle::ApplyButtonStyle(WorldIdButton, QStringLiteral("NoBorder"));
	auto* Content = new QHBoxLayout(WorldIdButton);
	Content->setContentsMargins(4, 2, 4, 2);
	auto* Cut = new QLabel();
	Cut->setPixmap(FAppStyle::GetBrush(QStringLiteral("GenericCommands.Cut")));
	Cut->setAttribute(Qt::WA_TransparentForMouseEvents);
	Content->addWidget(Cut);
	WorldIdText = new QLabel();
	WorldIdText->setObjectName(QStringLiteral("WorldIdText"));
	WorldIdText->setAttribute(Qt::WA_TransparentForMouseEvents);
	Content->addWidget(WorldIdText);
	WorldIdButton->setMinimumHeight(24);
	connect(WorldIdButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnCopyWorldIdClicked);
	Layout->addWidget(WorldIdButton);
	Layout->addStretch(1);
	return WorldIdRow;
}

void SOrvaEditorWorldView::BuildLaunchMenu()
{
	LaunchMenu->clear();
	QAction* Sandbox = LaunchMenu->addAction(LOCTEXT("LaunchSandbox", "Launch Sandbox").ToString());
	Sandbox->setObjectName(QStringLiteral("LaunchSandbox"));
	Sandbox->setToolTip(LOCTEXT("LaunchSandbox_Tooltip", "Launch ORVAClient on Web").ToString());
	connect(Sandbox, &QAction::triggered, this, &SOrvaEditorWorldView::LaunchSandbox);
	QAction* Paks = LaunchMenu->addAction(LOCTEXT("OpenPaks", "Open Build Folder").ToString());
	Paks->setObjectName(QStringLiteral("OpenPaks"));
	Paks->setToolTip(LOCTEXT("OpenPaks_Tooltip", "Open Build Folder").ToString());
	connect(Paks, &QAction::triggered, this, &SOrvaEditorWorldView::OpenBuildFolder);
}

bool SOrvaEditorWorldView::HasWorld() const
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	return Subsystem && !Subsystem->CurrWorkspace.WorldId.isEmpty();
}

bool SOrvaEditorWorldView::IsEditable() const
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	return Subsystem && Subsystem->CurrWorkspace.bEditable;
}

bool SOrvaEditorWorldView::HasEntryMap() const
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	return Subsystem && Subsystem->CurrWorkspace.ObjectPath.IsAsset();
}

QString SOrvaEditorWorldView::GetProgressText() const
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem || Subsystem->CurrWorkspace.WorldIdentifier.isEmpty())
	{
		return QString();
	}
	return ProgressWords(Subsystem->GetCurrProgress());
}

void SOrvaEditorWorldView::UpdateBoundState()
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	const QString Name = Subsystem ? Subsystem->GetUserInfoRecord().DisplayName : QString();
	SetTextIfChanged(AccountText,
	                 LOCTEXT("TextBlockAccount", "Account: {0}").ToString().replace(QStringLiteral("{0}"), Name));

	const bool bEditable = IsEditable();
	const bool bEntryMap = HasEntryMap();
	if (bInfoAreaBound)
	{
		SetVisibleIfChanged(InfoArea, HasWorld());
	}
	const QString Title = Subsystem ? Subsystem->CurrWorkspace.TitleName : QString();
	SetTextIfChanged(TitleText,
	                 LOCTEXT("TextBlockWorldName", "{0} - ").ToString().replace(QStringLiteral("{0}"), Title));
	const int Privacy = int(PrivacyOptions.indexOf(PrivacySelection));
	if (PrivacyCombo->currentIndex() != Privacy)
	{
		PrivacyCombo->setCurrentIndex(Privacy);
	}

	const QString Identifier = bEditable && Subsystem ? Subsystem->CurrWorkspace.WorldIdentifier
	                                                  : LOCTEXT("NotAvailable", "Not available").ToString();
	UploadArea->SetTitle(LOCTEXT("AreaUpload", "Upload ({0})").ToString().replace(QStringLiteral("{0}"), Identifier));
	SetEnabledIfChanged(UploadArea, bEditable);
	SetVisibleIfChanged(UploadBody, bEditable);
	SetEnabledIfChanged(BuildButton, bEntryMap);
	if (EntryMapPicker)
	{
		EntryMapPicker->RefreshValue();
	}

	const QString Progress = GetProgressText();
	SetTextIfChanged(ProgressLabel, Progress);
	const bool bRunning = Subsystem && !Subsystem->IdentInProgress.isEmpty() && Subsystem->CurrWorkspaceInProgress() &&
	                      IsRunningStage(Subsystem->GetCurrProgress());
	SetVisibleIfChanged(ProgressThrobber, bRunning);

	SetVisibleIfChanged(ActionBar, bEditable);
	SetEnabledIfChanged(LaunchButton, bEntryMap);
	SetEnabledIfChanged(LaunchCombo, bEntryMap);
	SetEnabledIfChanged(PublishButton, bEntryMap);

	SetVisibleIfChanged(WorldIdRow, bEditable);
	const QString WorldId = Subsystem ? Subsystem->CurrWorkspace.WorldId : QString();
	if (WorldIdText->text() != WorldId)
	{
		WorldIdText->setText(WorldId);
		// The button's own hint knows nothing of the content it holds.
		WorldIdButton->setMinimumSize(WorldIdButton->layout()->sizeHint());
	}
}

void SOrvaEditorWorldView::showEvent(QShowEvent* Event)
{
	QWidget::showEvent(Event);
	UpdateBoundState();
	BindingTimer->start();
}

void SOrvaEditorWorldView::hideEvent(QHideEvent* Event)
{
	BindingTimer->stop();
	QWidget::hideEvent(Event);
}

void SOrvaEditorWorldView::resizeEvent(QResizeEvent* Event)
{
	QWidget::resizeEvent(Event);
	FitScreenshotGrid();
}

void SOrvaEditorWorldView::RefreshWorldList()
{
	UOrvaDataCacheSubsystem* Cache = DataCache();
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	// Rebuilding is no choice of the creator's: it selects nothing.
	const QSignalBlocker Blocker(WorldListView);
	WorldListView->clear();
	ShownWorlds = Cache ? Cache->GetWorldList() : QList<FOrvaWorldDataPtr>();
	NewWorldButton.clear();
	for (const FOrvaWorldDataPtr& World : std::as_const(ShownWorlds))
	{
		auto* Item = new QListWidgetItem(WorldListView);
		QWidget* Row = nullptr;
		if (World && !World->Id.isEmpty())
		{
			SOrvaThumbnail::FArguments Args;
			Args.ImageName = World->TitleImage ? World->TitleImage->Url : QString();
			Args.ThumbnailId = World->Id;
			Args.ThumbnailSize = WorldTileSize;
			Args.bCanDelete = true;
			Args.OnDelete = [this](const QString& Id)
			{
				if (UOrvaSDKSubsystem* Target = Sdk())
				{
					Target->DeleteWorld(QStringList{Id});
				}
			};
			auto* Tile = new SOrvaThumbnail(Host, std::move(Args));
			Tile->setToolTip(World->Name);
			Row = Tile;
			if (Cache)
			{
				Cache->GetImage(Tile->AsReceiver());
			}
		}
		else
		{
			// The placeholder entry: the tile that makes a new world.
			auto* Box = new QWidget();
			Box->setFixedSize(RoundedSize(WorldTileSize));
			auto* Layout = new QHBoxLayout(Box);
			Layout->setContentsMargins(5, 5, 5, 5);
			auto* Button = new QPushButton();
			Button->setObjectName(QStringLiteral("NewWorldButton"));
			Button->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.Plus")));
			Button->setIconSize(QSize(24, 24));
			Button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
			connect(Button, &QPushButton::clicked, this,
			        [this]
			        {
				        if (UOrvaSDKSubsystem* Target = Sdk())
				        {
					        Target->NewWorld();
				        }
			        });
			Layout->addWidget(Button);
			if (!NewWorldButton)
			{
				NewWorldButton = Button;
			}
			Row = Box;
			Item->setFlags(Qt::ItemIsEnabled);
		}
		// Both kinds of row take a tile's size (a box's own hint is only that of its content).
		Item->setSizeHint(RoundedSize(WorldTileSize));
		WorldListView->setItemWidget(Item, Row);
		if (World && Subsystem && !World->Id.isEmpty() &&
		    World->Identifier.compare(Subsystem->CurrWorkspace.WorldIdentifier, Qt::CaseInsensitive) == 0)
		{
			Item->setSelected(true);
		}
	}
}

void SOrvaEditorWorldView::RefreshScreenshots()
{
	UOrvaDataCacheSubsystem* Cache = DataCache();
	ScreenshotTileView->clear();
	AddScreenshotButton.clear();
	const QList<FOrvaImageDataPtr> Images = Cache ? Cache->GetCurrImageList() : QList<FOrvaImageDataPtr>();
	const QSize Cell(std::max(ScreenshotCellSize, RoundedSize(ScreenshotTileSize).width()),
	                 std::max(ScreenshotCellSize, RoundedSize(ScreenshotTileSize).height()));
	ScreenshotTileView->setGridSize(Cell);
	for (const FOrvaImageDataPtr& Image : Images)
	{
		auto* Item = new QListWidgetItem(ScreenshotTileView);
		Item->setFlags(Qt::ItemIsEnabled);
		Item->setSizeHint(Cell);
		QWidget* Tile = nullptr;
		if (Image && !Image->Url.isEmpty())
		{
			SOrvaThumbnail::FArguments Args;
			Args.ImageName = Image->Url;
			Args.ThumbnailSize = ScreenshotTileSize;
			auto* Thumbnail = new SOrvaThumbnail(Host, std::move(Args));
			Tile = Thumbnail;
			if (Cache)
			{
				Cache->GetImage(Thumbnail->AsReceiver());
			}
		}
		else
		{
			auto* Box = new QWidget();
			Box->setFixedSize(RoundedSize(ScreenshotTileSize));
			auto* Layout = new QHBoxLayout(Box);
			Layout->setContentsMargins(5, 5, 5, 5);
			auto* Button = new QPushButton();
			Button->setObjectName(QStringLiteral("AddScreenshotButton"));
			Button->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.Plus")));
			Button->setIconSize(QSize(24, 24));
			Button->setFixedSize(48, 48);
			connect(Button, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnAddScreenshotsClicked);
			Layout->addWidget(Button, 0, Qt::AlignCenter);
			if (!AddScreenshotButton)
			{
				AddScreenshotButton = Button;
			}
			Tile = Box;
		}
		ScreenshotTileView->setItemWidget(Item, Tile);
	}
	FitScreenshotGrid();
}

void SOrvaEditorWorldView::FitScreenshotGrid()
{
	// The grid grows with its rows; the editing area around it scrolls.
	if (!ScreenshotTileView)
	{
		return;
	}
	const QSize Cell = ScreenshotTileView->gridSize();
	const int Count = ScreenshotTileView->count();
	const int Width = std::max(ScreenshotTileView->viewport()->width(), Cell.width());
	const int PerRow = std::max(1, Width / std::max(1, Cell.width()));
	const int Rows = std::max(1, (Count + PerRow - 1) / PerRow);
	ScreenshotTileView->setFixedHeight(Rows * Cell.height() + 2 * ScreenshotTileView->frameWidth() + 4);
}

SOrvaThumbnail* SOrvaEditorWorldView::FindWorldTile(const QString& WorldId) const
{
	for (SOrvaThumbnail* Tile : GetWorldTiles())
	{
		if (Tile->GetThumbnailId() == WorldId)
		{
			return Tile;
		}
	}
	return nullptr;
}

QList<SOrvaThumbnail*> SOrvaEditorWorldView::GetWorldTiles() const
{
	QList<SOrvaThumbnail*> Tiles;
	for (int Row = 0; Row < WorldListView->count(); ++Row)
	{
		if (auto* Tile = qobject_cast<SOrvaThumbnail*>(WorldListView->itemWidget(WorldListView->item(Row))))
		{
			Tiles.append(Tile);
		}
	}
	return Tiles;
}

QList<SOrvaThumbnail*> SOrvaEditorWorldView::GetScreenshotTiles() const
{
	QList<SOrvaThumbnail*> Tiles;
	for (int Row = 0; Row < ScreenshotTileView->count(); ++Row)
	{
		if (auto* Tile = qobject_cast<SOrvaThumbnail*>(ScreenshotTileView->itemWidget(ScreenshotTileView->item(Row))))
		{
			Tiles.append(Tile);
		}
	}
	return Tiles;
}

void SOrvaEditorWorldView::HandleWorldSelected(const FOrvaWorldDataPtr& Item)
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (Item && Subsystem && DataCache())
	{
		Subsystem->ChangeWorkspaceWorld(*Item);
	}
}

void SOrvaEditorWorldView::HandleWorkspaceChanged(const FWorkspaceData& Workspace)
{
	bInfoAreaBound = false;
	if (Workspace.WorldId.isEmpty())
	{
		InfoArea->hide();
		UpdateBoundState();
		return;
	}
	InfoArea->show();
	{
		// Filling the boxes is no edit of the creator's.
		const QSignalBlocker NameBlocker(WorldNameBox);
		const QSignalBlocker DescriptionBlocker(DescriptionBox);
		WorldNameBox->setText(Workspace.TitleName);
		DescriptionBox->setPlainText(Workspace.Description);
	}
	PrivacySelection = Workspace.bIsPublic ? QStringLiteral("Public") : QStringLiteral("Private");
	UpdateBoundState();
}

void SOrvaEditorWorldView::OnCloseClicked()
{
	bInfoAreaBound = false;
	InfoArea->hide();
	WorldListView->clearSelection();
}

void SOrvaEditorWorldView::HandlePrivacyChanged(const QString& Name)
{
	if (!PrivacyOptions.contains(Name))
	{
		return;
	}
	PrivacySelection = Name;
	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		Subsystem->PrivatizeWorld(Name == QLatin1String("Private"));
	}
}

void SOrvaEditorWorldView::OnWorldNameChanged(const QString& Text)
{
	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		Subsystem->CurrWorkspace.TitleName = Text;
		Subsystem->CacheCurrWorkspace();
	}
}

void SOrvaEditorWorldView::OnDescriptionChanged()
{
	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		Subsystem->CurrWorkspace.Description = DescriptionBox->toPlainText();
		Subsystem->CacheCurrWorkspace();
	}
}

void SOrvaEditorWorldView::HandleEntryMapChanged(const FAssetData& AssetData)
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem)
	{
		return;
	}
	const FSoftObjectPath Path = AssetData.IsValid() ? AssetData.GetSoftObjectPath() : FSoftObjectPath();
	if (Path != Subsystem->CurrWorkspace.ObjectPath)
	{
		Subsystem->SetCurrentLevelPath(Path);
	}
	UpdateBoundState();
}

void SOrvaEditorWorldView::OnAddScreenshotsClicked()
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	UOrvaDataCacheSubsystem* Cache = DataCache();
	if (!ScreenshotTileView || !Subsystem || !Cache)
	{
		return;
	}
	const QStringList Files = Subsystem->OpenImageFiles();
	for (const QString& File : Files)
	{
		Cache->AddNewLocalImage(File);
	}
	RefreshScreenshots();
}

void SOrvaEditorWorldView::OnCopyWorldIdClicked()
{
	if (const UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		QGuiApplication::clipboard()->setText(Subsystem->CurrWorkspace.WorldId);
	}
}

void SOrvaEditorWorldView::LaunchSandbox()
{
	QDesktopServices::openUrl(QUrl(SandboxUrl()));
}

QString SOrvaEditorWorldView::GetBuildFolder() const
{
	QString Folder = Host ? FPaths::ConvertRelativePathToFull(Host->Paths().ProjectDir()) : QString();
	if (!Folder.isEmpty() && !Folder.endsWith(QLatin1Char('/')))
	{
		Folder += QLatin1Char('/');
	}
	if (const UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		// Each world builds into a folder of its own.
		return Subsystem->GetCurrentBuildFolder();
	}
	return Folder + QStringLiteral("Saved/HotPatcher/");
}

void SOrvaEditorWorldView::OpenBuildFolder()
{
	QDesktopServices::openUrl(QUrl::fromLocalFile(GetBuildFolder()));
}

void SOrvaEditorWorldView::OnBackClicked()
{
	// The subsystem's logout: logged out, the login state broadcast, the access token emptied.
	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		Subsystem->Logout();
	}
}

#undef LOCTEXT_NAMESPACE
