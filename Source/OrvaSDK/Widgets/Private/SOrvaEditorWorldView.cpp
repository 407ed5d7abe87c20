#include "SOrvaEditorWorldView.h"

#include "AppStyle.h"
#include "AssetRegistry.h"
#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "ExpandableArea.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaAsyncFileUploader.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSettings.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "SOrvaActivityPanel.h"
#include "SOrvaPreflightReportView.h"
#include "SOrvaThumbnail.h"
#include "Text.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
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
// Committed edits that come together (Enter, then the focus leaving) go out as one.
constexpr int DetailsDebounceMs = 300;
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

SOrvaElidingLabel* MakeElidingText(int Size)
{
	auto* Label = new SOrvaElidingLabel();
	Label->setFont(RegularFont(Size));
	return Label;
}
} // namespace

SOrvaElidingLabel::SOrvaElidingLabel(QWidget* Parent)
    : QLabel(Parent)
{
	setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void SOrvaElidingLabel::SetFullText(const QString& Text)
{
	if (text() != Text)
	{
		setText(Text);
		setToolTip(Text);
	}
}

QString SOrvaElidingLabel::GetShownText() const
{
	return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, contentsRect().width()));
}

QSize SOrvaElidingLabel::minimumSizeHint() const
{
	return QSize(fontMetrics().horizontalAdvance(QStringLiteral("W...")), QLabel::minimumSizeHint().height());
}

void SOrvaElidingLabel::paintEvent(QPaintEvent*)
{
	QPainter Painter(this);
	const QRect Area = contentsRect();
	style()->drawItemText(&Painter, Area, int(alignment()), palette(), isEnabled(), GetShownText(), foregroundRole());
}

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
		BackButton->setToolTip(LOCTEXT("Btn_Back_Tooltip", "Log out and go back to the login form").ToString());
		connect(BackButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnBackClicked);
		Layout->addWidget(BackButton);
		Layout->addStretch(1);
		Slots->addWidget(Row);
	}

	// What went wrong, or what just happened, stays here until the creator dismisses it.
	{
		MessageBar = new QFrame();
		MessageBar->setObjectName(QStringLiteral("MessageBar"));
		auto* Layout = new QHBoxLayout(MessageBar);
		Layout->setContentsMargins(10, 6, 6, 6);
		MessageText = new QLabel();
		MessageText->setObjectName(QStringLiteral("MessageText"));
		MessageText->setWordWrap(true);
		MessageText->setFont(RegularFont(11));
		MessageText->setTextInteractionFlags(Qt::TextSelectableByMouse);
		MessageText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
		Layout->addWidget(MessageText, 1);
		RetryButton = new QPushButton(LOCTEXT("Btn_Retry", "Retry").ToString());
		RetryButton->setObjectName(QStringLiteral("RetryButton"));
		RetryButton->setToolTip(LOCTEXT("Btn_Retry_Tooltip", "Try the failed step again").ToString());
		connect(RetryButton, &QPushButton::clicked, this,
		        [this]
		        {
			        const std::function<void()> Retry = RetryAction;
			        DismissMessage();
			        if (Retry)
			        {
				        Retry();
			        }
		        });
		Layout->addWidget(RetryButton, 0, Qt::AlignTop);
		DismissButton = new QPushButton(LOCTEXT("Btn_Dismiss", "Dismiss").ToString());
		DismissButton->setObjectName(QStringLiteral("DismissButton"));
		DismissButton->setToolTip(LOCTEXT("Btn_Dismiss_Tooltip", "Hide this message").ToString());
		connect(DismissButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::DismissMessage);
		Layout->addWidget(DismissButton, 0, Qt::AlignTop);
		MessageBar->hide();
		Slots->addWidget(Padded(MessageBar, QMargins(20, 0, 20, 6)));
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
		EmptyListHint = MakeText(LOCTEXT("EmptyListHint", "No worlds yet: press + to create your first world."), 11);
		EmptyListHint->setObjectName(QStringLiteral("EmptyListHint"));
		EmptyListHint->setWordWrap(true);
		EmptyListHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
		EmptyListHint->hide();
		Header->addSpacing(12);
		Header->addWidget(EmptyListHint, 1);
		AccountText = MakeElidingText(18);
		AccountText->setObjectName(QStringLiteral("AccountText"));
		AccountText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
		Header->addWidget(AccountText, 1);
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
		CloseButton->setToolTip(LOCTEXT("Btn_Close_Tooltip", "Close this world's details").ToString());
		connect(CloseButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnCloseClicked);
		TitleRow->addWidget(CloseButton);
		TitleRow->addSpacing(8);
		// A long name gives way: the privacy box beside it stays in view.
		TitleText = MakeElidingText(18);
		TitleText->setObjectName(QStringLiteral("TitleText"));
		TitleText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
		TitleRow->addWidget(TitleText, 1);
		TitleRow->addSpacing(8);
		PrivacyCombo = new QComboBox();
		PrivacyCombo->setObjectName(QStringLiteral("PrivacyCombo"));
		PrivacyCombo->setToolTip(LOCTEXT("PrivacyCombo_Tooltip", "Who can find and play this world").ToString());
		PrivacyCombo->addItems(PrivacyOptions);
		PrivacyCombo->setCurrentIndex(int(PrivacyOptions.indexOf(PrivacySelection)));
		connect(PrivacyCombo, &QComboBox::activated, this,
		        [this](int Index) { HandlePrivacyChanged(PrivacyOptions.value(Index)); });
		TitleRow->addWidget(PrivacyCombo);
		TitleRow->addStretch(1);
		TitleRow->setStretch(TitleRow->count() - 1, 1);
		Info->addLayout(TitleRow);

		InformationArea = new SExpandableArea(LOCTEXT("AreaInformation", "Information").ToString());
		InformationArea->setObjectName(QStringLiteral("InformationArea"));
		InformationArea->SetTitleFont(RegularFont(16));
		InformationArea->SetBodyContent(BuildInformation());
		InformationArea->GetTitleButton()->setToolTip(
		    LOCTEXT("AreaInformation_Tooltip", "Show or hide the world's name, description and screenshots")
		        .ToString());
		Info->addWidget(InformationArea);

		UploadArea = new SExpandableArea(QString());
		UploadArea->setObjectName(QStringLiteral("UploadArea"));
		UploadArea->SetTitleFont(RegularFont(16));
		UploadArea->SetBodyContent(BuildUpload());
		UploadArea->GetTitleButton()->setToolTip(
		    LOCTEXT("AreaUpload_Tooltip", "Show or hide the entry map and the build").ToString());
		Info->addWidget(Padded(UploadArea, QMargins(0, 30, 0, 0)));

		// The publish steps of this project, and how the selected world was last published.
		auto* ActivityArea = new SExpandableArea(LOCTEXT("AreaActivity", "Activity").ToString());
		ActivityArea->setObjectName(QStringLiteral("ActivityArea"));
		ActivityArea->SetTitleFont(RegularFont(16));
		ActivityArea->SetBodyContent(new SOrvaActivityPanel(Host));
		ActivityArea->GetTitleButton()->setToolTip(
		    LOCTEXT("AreaActivity_Tooltip", "Show or hide the steps of the builds, publishes and launches").ToString());
		Info->addWidget(Padded(ActivityArea, QMargins(0, 30, 0, 0)));
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

	DetailsTimer = new QTimer(this);
	DetailsTimer->setSingleShot(true);
	DetailsTimer->setInterval(DetailsDebounceMs);
	connect(DetailsTimer, &QTimer::timeout, this, [this] { SendWorldDetails(); });
	VerdictTimer = new QTimer(this);
	VerdictTimer->setInterval(500);
	connect(VerdictTimer, &QTimer::timeout, this, &SOrvaEditorWorldView::PollClientVerdict);

	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		WorldNameBox->setText(Subsystem->CurrWorkspace.TitleName);
		DescriptionBox->setPlainText(Subsystem->CurrWorkspace.Description);
		// A panel opened on a world (after logging in again) shows the privacy it holds.
		SyncPrivacyFromWorkspace();
		LastSentDetails = DetailsKey();
		connect(Subsystem, &UOrvaSDKSubsystem::OnServiceRequestFailed, this,
		        &SOrvaEditorWorldView::HandleServiceFailure);
		connect(Subsystem, &UOrvaSDKSubsystem::OnWorldSaved, this, &SOrvaEditorWorldView::HandleWorldSaved);
		connect(Subsystem, &UOrvaSDKSubsystem::OnClientLaunched, this, &SOrvaEditorWorldView::HandleClientLaunched);
		connect(Subsystem, &UOrvaSDKSubsystem::OnBuildUnchanged, this,
		        [this](const QString& WorldIdentifier)
		        {
			        const UOrvaSDKSubsystem* Target = Sdk();
			        if (Target && Target->CurrWorkspace.WorldIdentifier == WorldIdentifier)
			        {
				        ShowMessage(EMessageKind::Success,
				                    LOCTEXT("NoChangesSincePublish", "No changes since the last publish").ToString());
			        }
		        });
		connect(Subsystem, &UOrvaSDKSubsystem::OnNewWorkspace, this,
		        [this]
		        {
			        // The new world opens as soon as the list holds it (RefreshWorldList).
			        if (const UOrvaSDKSubsystem* Target = Sdk())
			        {
				        NewWorldIdentifier = Target->GetKeyFolderName();
			        }
		        });
		// The panel follows the uploads its own buttons start.
		connect(Subsystem, &UOrvaSDKSubsystem::OnUploadStarted, this,
		        [this](UOrvaAsyncFileUploader* Uploader)
		        {
			        if (StartingTask != ETask::None)
			        {
				        WatchUpload(Uploader);
			        }
		        });
		if (UOrvaDataCacheSubsystem* Cache = DataCache())
		{
			connect(Cache, &UOrvaDataCacheSubsystem::OnImageUploadEnded, this,
			        &SOrvaEditorWorldView::HandleImageUploadEnded);
		}
		// The panel as context: a panel that is gone is skipped.
		connect(Subsystem, &UOrvaSDKSubsystem::OnWorldsListUpdated, this, &SOrvaEditorWorldView::RefreshWorldList);
		Subsystem->GetWorldsList();
		connect(Subsystem, &UOrvaSDKSubsystem::OnScreenshotsUpdated, this, &SOrvaEditorWorldView::RefreshScreenshots);
		connect(Subsystem, &UOrvaSDKSubsystem::OnWorkspaceChanged, this, &SOrvaEditorWorldView::HandleWorkspaceChanged);
	}
	// Connected after the fill, so opening the panel writes nothing.
	connect(WorldNameBox, &QLineEdit::textChanged, this, &SOrvaEditorWorldView::OnWorldNameChanged);
	connect(WorldNameBox, &QLineEdit::editingFinished, this,
	        [this]
	        {
		        OnWorldNameChanged(WorldNameBox->text());
		        CommitDetails();
	        });
	connect(DescriptionBox, &QPlainTextEdit::textChanged, this, &SOrvaEditorWorldView::OnDescriptionChanged);
	DescriptionBox->installEventFilter(this);
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
	// Tab moves on to the next control; a description has no use for tab characters.
	DescriptionBox->setTabChangesFocus(true);
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
	// The picker's own padding of 6 lines it up with the texts above at 30.
	RowLayout->setContentsMargins(24, 0, 30, 0);
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

	CheckButton = new QPushButton(LOCTEXT("BtnCheck", "Check").ToString());
	CheckButton->setObjectName(QStringLiteral("CheckButton"));
	CheckButton->setFont(RegularFont(16));
	CheckButton->setToolTip(
	    LOCTEXT("BtnCheck_Tooltip", "Check what a build and publish of this world would run into").ToString());
	connect(CheckButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnCheckClicked);
	RowLayout->addWidget(CheckButton, 0, Qt::AlignVCenter);

	BuildButton = new QPushButton(LOCTEXT("BtnBuild", "Build").ToString());
	BuildButton->setObjectName(QStringLiteral("BuildButton"));
	BuildButton->setFont(RegularFont(16));
	BuildButton->setToolTip(
	    LOCTEXT("BtnBuild_Tooltip", "Build the client and server paks of the entry map").ToString());
	connect(BuildButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnBuildClicked);
	RowLayout->addWidget(BuildButton, 0, Qt::AlignVCenter);
	Layout->addWidget(Row);

	// The progress under the row, so a long stage name never pushes "Build" away.
	Row = new QWidget();
	RowLayout = new QHBoxLayout(Row);
	RowLayout->setContentsMargins(30, 0, 30, 6);

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
	RowLayout->addWidget(ProgressThrobber);
	ProgressLabel = new QLabel();
	ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
	ProgressLabel->setFont(RegularFont(11));
	ProgressLabel->setWordWrap(true);
	RowLayout->addWidget(ProgressLabel, 1);
	Layout->addWidget(Row);

	PreflightView = new SOrvaPreflightReportView();
	PreflightView->hide();
	Layout->addWidget(Padded(PreflightView, QMargins(30, 0, 30, 6)));
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
	LaunchButton->setToolTip(
	    LOCTEXT("Launch_Tooltip", "Store the server pak, then play this build in the ORVA client").ToString());
	connect(LaunchButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnLaunchClicked);
	GroupLayout->addWidget(LaunchButton);
	LaunchCombo = new QToolButton();
	LaunchCombo->setObjectName(QStringLiteral("LaunchCombo"));
	FAppStyle::ApplyButtonStyle(LaunchCombo, QStringLiteral("SlimToolBar"));
	LaunchCombo->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.ChevronDown")));
	LaunchCombo->setPopupMode(QToolButton::InstantPopup);
	LaunchCombo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
	LaunchCombo->setToolTip(LOCTEXT("LaunchCombo_Tooltip", "More ways to try the world").ToString());
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
	PublishButton->setToolTip(
	    LOCTEXT("BtnPublish_Tooltip", "Upload the built paks: the world goes live with them").ToString());
	connect(PublishButton, &QPushButton::clicked, this, &SOrvaEditorWorldView::OnPublishClicked);
	Layout->addWidget(Padded(PublishButton, QMargins(0, 0, 30, 20)));
	return ActionBar;
}

QWidget* SOrvaEditorWorldView::BuildWorldIdRow()
{
	WorldIdRow = new QWidget();
	WorldIdRow->setObjectName(QStringLiteral("WorldIdRow"));
	auto* Layout = new QHBoxLayout(WorldIdRow);
	Layout->setContentsMargins(20, 0, 20, 6);
	Layout->addWidget(MakeText(LOCTEXT("WorldIdCaption", "World ID:"), 10));
	WorldIdButton = new QPushButton();
	WorldIdButton->setObjectName(QStringLiteral("WorldIdButton"));
	WorldIdButton->setToolTip(LOCTEXT("WorldId_Tooltip", "Copy the world's ID to the clipboard").ToString());
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
	if (SandboxUrl().isEmpty())
	{
		// No web site is known to this editor: an entry that opened a made-up address would fail
		// in the browser instead.
		Sandbox->setEnabled(false);
		Sandbox->setToolTip(
		    LOCTEXT("LaunchSandbox_NoUrl", "No sandbox web site is configured for this service").ToString());
	}
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
	AccountText->SetFullText(
	    LOCTEXT("TextBlockAccount", "Account: {0}").ToString().replace(QStringLiteral("{0}"), Name));

	const bool bEditable = IsEditable();
	const bool bEntryMap = HasEntryMap();
	if (bInfoAreaBound)
	{
		SetVisibleIfChanged(InfoArea, HasWorld());
	}
	const QString Title = Subsystem ? Subsystem->CurrWorkspace.TitleName : QString();
	TitleText->SetFullText(LOCTEXT("TextBlockWorldName", "{0} - ").ToString().replace(QStringLiteral("{0}"), Title));
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
	SetEnabledIfChanged(CheckButton, bEditable);
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
	// Rebuilding destroys the focused tile; the focus then stays in the strip, never falls to "Back".
	QWidget* Focused = QApplication::focusWidget();
	const bool bFocusInStrip = Focused && (Focused == WorldListView || WorldListView->isAncestorOf(Focused));
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
			Args.OnDelete = [this](const QString& Id) { OnDeleteWorldClicked(Id); };
			auto* Tile = new SOrvaThumbnail(Host, std::move(Args));
			Tile->setToolTip(World->Name);
			Tile->SetCaption(World->Name);
			Tile->SetBadge(World->bIsPublic ? LOCTEXT("BadgePublic", "Public").ToString()
			                                : LOCTEXT("BadgePrivate", "Private").ToString());
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
			Button->setToolTip(LOCTEXT("NewWorld_Tooltip", "Create a new world").ToString());
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
	const bool bNoWorlds = std::none_of(ShownWorlds.begin(), ShownWorlds.end(),
	                                    [](const FOrvaWorldDataPtr& World) { return World && !World->Id.isEmpty(); });
	EmptyListHint->setVisible(bNoWorlds);
	if (!NewWorldIdentifier.isEmpty())
	{
		for (const FOrvaWorldDataPtr& World : std::as_const(ShownWorlds))
		{
			if (World && !World->Id.isEmpty() &&
			    World->Identifier.compare(NewWorldIdentifier, Qt::CaseInsensitive) == 0)
			{
				NewWorldIdentifier.clear();
				// Later: the strip is being rebuilt under a blocker now.
				QMetaObject::invokeMethod(
				    this,
				    [this, World]
				    {
					    // A world chosen since the new one was made stays chosen: opening the new
					    // one now would send what follows (screenshots, details) to the wrong world.
					    const UOrvaSDKSubsystem* Target = Sdk();
					    if (!Target || Target->GetKeyFolderName().compare(World->Identifier, Qt::CaseInsensitive) != 0)
					    {
						    return;
					    }
					    const int Row = int(ShownWorlds.indexOf(World));
					    if (Row >= 0)
					    {
						    // Selecting the row opens the world, as a click does.
						    WorldListView->setCurrentRow(Row);
					    }
					    // The creator names the new world next; the focus must not fall to "Back".
					    WorldNameBox->setFocus(Qt::OtherFocusReason);
					    WorldNameBox->selectAll();
				    },
				    Qt::QueuedConnection);
				break;
			}
		}
	}
	if (bFocusInStrip && !WorldListView->hasFocus())
	{
		if (InfoArea->isVisible())
		{
			WorldNameBox->setFocus(Qt::OtherFocusReason);
		}
		else
		{
			WorldListView->setFocus(Qt::OtherFocusReason);
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
			if (FailedScreenshots.contains(Image->Url.toCaseFolded()))
			{
				Thumbnail->SetFailed(
				    LOCTEXT("ScreenshotRefused", "The service did not store this screenshot").ToString());
			}
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
			Button->setToolTip(LOCTEXT("AddScreenshot_Tooltip", "Add screenshots (PNG files)").ToString());
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
		// The edits of the world being left go to that world.
		SendWorldDetails();
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
	LastSentDetails = DetailsKey();
	UpdateBoundState();
}

void SOrvaEditorWorldView::OnCloseClicked()
{
	SendWorldDetails();
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
		if (Path.IsAsset() && !Subsystem->CurrWorkspace.ObjectPath.IsAsset())
		{
			// Declining the move (or a map that cannot be used) leaves no entry map: say why.
			ShowMessage(EMessageKind::Info,
			            LOCTEXT("EntryMapCleared",
			                    "The entry map was cleared: %1 uses assets outside this world's folder, and they "
			                    "were not moved into it. Choose the map again and accept the move to use it.")
			                .ToString()
			                .arg(Path.GetAssetName()));
		}
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

QString SOrvaEditorWorldView::SandboxUrl() const
{
	QString Url;
	FConfigCache* Config = Host ? Host->GetConfig() : nullptr;
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	if (Config && Subsystem)
	{
		Url = OrvaSDKSettings::SandboxUrl.Get(*Config, Subsystem->GetSettingsFilePath());
	}
	const QUrl Parsed(Url);
	return Parsed.isValid() && (Parsed.scheme() == QLatin1String("http") || Parsed.scheme() == QLatin1String("https"))
	           ? Url
	           : QString();
}

void SOrvaEditorWorldView::LaunchSandbox()
{
	const QString Url = SandboxUrl();
	if (!Url.isEmpty())
	{
		QDesktopServices::openUrl(QUrl(Url));
	}
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
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem)
	{
		return;
	}
	if (Host->Dialogs().MessageBox(
	        EAppMsgType::YesNo,
	        LOCTEXT("ConfirmLogout", "Log out of ORVA? You will need your password to log in again.").ToString(),
	        LOCTEXT("ConfirmLogoutTitle", "Log Out").ToString()) != EAppReturnType::Yes)
	{
		return;
	}
	SendWorldDetails();
	// The subsystem's logout: logged out, the login state broadcast, the access token emptied.
	Subsystem->Logout();
}

void SOrvaEditorWorldView::OnDeleteWorldClicked(const QString& WorldId)
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem || WorldId.isEmpty())
	{
		return;
	}
	QString Name = WorldId;
	for (const FOrvaWorldDataPtr& World : std::as_const(ShownWorlds))
	{
		if (World && World->Id == WorldId && !World->Name.isEmpty())
		{
			Name = World->Name;
		}
	}
	if (Host->Dialogs().MessageBox(
	        EAppMsgType::YesNo,
	        LOCTEXT("ConfirmDelete", "Delete the world \"%1\" from ORVA? Its builds and screenshots go with it; this "
	                                 "cannot be undone.")
	            .ToString()
	            .arg(Name),
	        LOCTEXT("ConfirmDeleteTitle", "Delete World").ToString()) != EAppReturnType::Yes)
	{
		return;
	}
	Subsystem->DeleteWorld(QStringList{WorldId});
}

QString SOrvaEditorWorldView::DetailsKey() const
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem)
	{
		return QString();
	}
	const FWorkspaceData& Workspace = Subsystem->CurrWorkspace;
	return Workspace.WorldId + QChar(0x1f) + Workspace.TitleName + QChar(0x1f) + Workspace.Description;
}

void SOrvaEditorWorldView::CommitDetails()
{
	DetailsTimer->start();
}

void SOrvaEditorWorldView::SendWorldDetails(bool bForce)
{
	DetailsTimer->stop();
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem || Subsystem->CurrWorkspace.WorldId.isEmpty())
	{
		return;
	}
	const QString Key = DetailsKey();
	if (!bForce && Key == LastSentDetails)
	{
		return;
	}
	LastSentDetails = Key;
	Subsystem->UploadWorldDetials();
}

void SOrvaEditorWorldView::OnCheckClicked()
{
	if (const UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		PreflightView->SetReport(Subsystem->GetPreflightReport());
	}
}

void SOrvaEditorWorldView::OnBuildClicked()
{
	if (UOrvaSDKSubsystem* Subsystem = Sdk())
	{
		// An hour's build that the upload or the client would refuse is not started: the report
		// says why, right where the creator clicked.
		const FOrvaPreflightReport Report = Subsystem->GetPreflightReport();
		if (Report.HasErrors())
		{
			const int Errors = Report.Count(EOrvaPreflightLevel::Error);
			PreflightView->SetReport(
			    Report,
			    Errors == 1
			        ? LOCTEXT("BuildRefusedOne", "Not built: fix the error below first, then press Build again.")
			              .ToString()
			        : LOCTEXT("BuildRefused", "Not built: fix the {0} errors below first, then press Build again.")
			              .ToString()
			              .replace(QStringLiteral("{0}"), QString::number(Errors)));
			return;
		}
		if (PreflightView->isVisible())
		{
			PreflightView->SetReport(Report);
		}
		SendWorldDetails();
		Subsystem->BuildPak();
		UpdateBoundState();
	}
}

void SOrvaEditorWorldView::OnPublishClicked()
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem)
	{
		return;
	}
	// The world goes live with the name and description the creator sees.
	SendWorldDetails(true);
	WatchedTask = ETask::Publish;
	UploadsRunning = 0;
	FailedUploads.clear();
	StartingTask = ETask::Publish;
	Subsystem->TaskPublishPaks();
	StartingTask = ETask::None;
	if (UploadsRunning > 0)
	{
		ShowMessage(EMessageKind::Info, LOCTEXT("Publishing", "Publishing: uploading the built paks...").ToString());
		return;
	}
	WatchedTask = ETask::None;
	if (Subsystem->IsPakBuildRunning())
	{
		ShowMessage(EMessageKind::Info,
		            LOCTEXT("PublishAfterBuild", "Nothing was published: the paks are being built. Press Publish "
		                                         "again when the build is done.")
		                .ToString());
	}
	else if (!Subsystem->CheckLocalPaks(true))
	{
		ShowMessage(EMessageKind::Info,
		            LOCTEXT("PublishNeedsBuild", "Nothing was published: build the world first (Build), then press "
		                                         "Publish.")
		                .ToString());
	}
}

void SOrvaEditorWorldView::OnLaunchClicked()
{
	UOrvaSDKSubsystem* Subsystem = Sdk();
	if (!Subsystem)
	{
		return;
	}
	WatchedTask = ETask::Launch;
	UploadsRunning = 0;
	FailedUploads.clear();
	StartingTask = ETask::Launch;
	Subsystem->TaskLaunchORVA();
	StartingTask = ETask::None;
	if (UploadsRunning > 0)
	{
		ShowMessage(EMessageKind::Info,
		            LOCTEXT("LaunchUploading", "Launching ORVA: storing the server pak first...").ToString());
		return;
	}
	WatchedTask = ETask::None;
	if (Subsystem->IsPakBuildRunning())
	{
		ShowMessage(EMessageKind::Info, LOCTEXT("LaunchAfterBuild", "The paks are being built. Press Launch ORVA "
		                                                            "again when the build is done.")
		                                    .ToString());
	}
	else if (!Subsystem->CheckLocalPaks(true))
	{
		ShowMessage(EMessageKind::Info,
		            LOCTEXT("LaunchNeedsBuild", "Nothing to play yet: build the world first (Build).").ToString());
	}
}

bool SOrvaEditorWorldView::eventFilter(QObject* Watched, QEvent* Event)
{
	if (Watched == DescriptionBox && Event->type() == QEvent::FocusOut)
	{
		CommitDetails();
	}
	return QWidget::eventFilter(Watched, Event);
}

void SOrvaEditorWorldView::WatchUpload(UOrvaAsyncFileUploader* Uploader)
{
	++UploadsRunning;
	const QString File = FPaths::GetCleanFilename(Uploader->GetTargetFilePath());
	connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, this,
	        [this, File](bool bSuccess)
	        {
		        --UploadsRunning;
		        if (!bSuccess)
		        {
			        FailedUploads.append(File);
		        }
		        FinishPublishIfDone();
	        });
}

void SOrvaEditorWorldView::FinishPublishIfDone()
{
	if (UploadsRunning > 0 || WatchedTask == ETask::None)
	{
		return;
	}
	const ETask Task = WatchedTask;
	if (Task == ETask::Publish)
	{
		WatchedTask = ETask::None;
		if (FailedUploads.isEmpty())
		{
			// Each upload ends well only once the service confirmed the stored pak.
			ShowMessage(EMessageKind::Success, LOCTEXT("Published", "Published").ToString());
		}
		else
		{
			ShowMessage(EMessageKind::Error,
			            LOCTEXT("PublishFailed", "Publishing failed: %1 could not be stored (the log says why).")
			                .ToString()
			                .arg(FailedUploads.join(QStringLiteral(", "))),
			            [this] { OnPublishClicked(); });
		}
		return;
	}
	if (!FailedUploads.isEmpty())
	{
		WatchedTask = ETask::None;
		ShowMessage(EMessageKind::Error,
		            LOCTEXT("LaunchUploadFailed", "Launch ORVA failed: the server pak %1 could not be stored (the "
		                                          "log says why).")
		                .ToString()
		                .arg(FailedUploads.join(QStringLiteral(", "))),
		            [this] { OnLaunchClicked(); });
	}
	// Otherwise the client launch that follows the stored server pak tells how it went.
}

void SOrvaEditorWorldView::HandleClientLaunched(bool bStarted)
{
	if (WatchedTask != ETask::Launch)
	{
		return;
	}
	WatchedTask = ETask::None;
	if (bStarted)
	{
		ShowMessage(EMessageKind::Success,
		            LOCTEXT("ClientStarted", "The ORVA client has started on this build.").ToString());
		// The client writes its verdict on the world to its log, beside its install folder:
		// "<root>/Saved/Logs/ORVAClient.log", the root being above "Binaries/<platform>".
		const UOrvaSDKSubsystem* Subsystem = Sdk();
		QDir Dir = QFileInfo(Subsystem ? Subsystem->GetLastClientPath() : QString()).absoluteDir();
		QDir Root = Dir;
		if (Root.cdUp() && Root.dirName() == QLatin1String("Binaries") && Root.cdUp())
		{
			Dir = Root;
		}
		ClientLogPath = Dir.filePath(QStringLiteral("Saved/Logs/ORVAClient.log"));
		ClientLogOffset = QFileInfo(ClientLogPath).size();
		VerdictPolls = 0;
		VerdictTimer->start();
	}
	else
	{
		ShowMessage(EMessageKind::Error,
		            LOCTEXT("ClientNotStarted", "The ORVA client could not be started: it is not installed, or it "
		                                        "could not be run.")
		                .ToString(),
		            [this] { OnLaunchClicked(); });
	}
}

void SOrvaEditorWorldView::PollClientVerdict()
{
	// Two minutes is far longer than a client takes to judge a world.
	if (++VerdictPolls > 240)
	{
		VerdictTimer->stop();
		return;
	}
	QFile Log(ClientLogPath);
	if (!Log.open(QIODevice::ReadOnly))
	{
		return;
	}
	if (Log.size() < ClientLogOffset)
	{
		ClientLogOffset = 0;
	}
	Log.seek(ClientLogOffset);
	const QString Text = QString::fromUtf8(Log.read(256 * 1024));
	const qsizetype At = Text.indexOf(QLatin1String("Verdict: "));
	const qsizetype End = At < 0 ? -1 : Text.indexOf(QLatin1Char('\n'), At);
	if (End < 0)
	{
		return;
	}
	VerdictTimer->stop();
	const QString Verdict = Text.mid(At + 9, End - At - 9).trimmed();
	const bool bPlayable = !Verdict.contains(QLatin1String("cannot be played"));
	ShowMessage(
	    bPlayable ? EMessageKind::Success : EMessageKind::Error,
	    LOCTEXT("ClientVerdict", "The ORVA client has started on this build. Its verdict: %1").ToString().arg(Verdict));
}

void SOrvaEditorWorldView::HandleServiceFailure(const QString& What, const QString& Cause)
{
	const QString Text =
	    LOCTEXT("RequestFailed", "%1 failed: %2").ToString().arg(What, Cause.isEmpty() ? QStringLiteral("?") : Cause);
	// A failed save is sent again on the next commit, and Retry sends it now.
	LastSentDetails.clear();
	SyncPrivacyFromWorkspace();
	UpdateBoundState();
	// Saving the details and listing the worlds can be tried again as they stand.
	std::function<void()> Retry;
	if (What == NSLOCTEXT("OrvaSDK", "WhatDetails", "Saving the world's name and description").ToString())
	{
		Retry = [this] { SendWorldDetails(true); };
	}
	else if (What == NSLOCTEXT("OrvaSDK", "WhatWorldsList", "Listing your worlds").ToString())
	{
		Retry = [this]
		{
			if (UOrvaSDKSubsystem* Subsystem = Sdk())
			{
				Subsystem->GetWorldsList();
			}
		};
	}
	ShowMessage(EMessageKind::Error, Text, std::move(Retry));
}

void SOrvaEditorWorldView::HandleWorldSaved(const QString& WorldId)
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	if (Subsystem && Subsystem->CurrWorkspace.WorldId == WorldId)
	{
		SyncPrivacyFromWorkspace();
		UpdateBoundState();
	}
	RefreshWorldList();
}

void SOrvaEditorWorldView::SyncPrivacyFromWorkspace()
{
	const UOrvaSDKSubsystem* Subsystem = Sdk();
	if (Subsystem && !Subsystem->CurrWorkspace.WorldId.isEmpty())
	{
		PrivacySelection = Subsystem->CurrWorkspace.bIsPublic ? QStringLiteral("Public") : QStringLiteral("Private");
	}
}

void SOrvaEditorWorldView::HandleImageUploadEnded(const FOrvaImageData& ImageData)
{
	if (!ImageData.Id.isEmpty())
	{
		return;
	}
	FailedScreenshots.insert(ImageData.Url.toCaseFolded());
	for (SOrvaThumbnail* Tile : GetScreenshotTiles())
	{
		if (Tile->GetImageUrl().compare(ImageData.Url, Qt::CaseInsensitive) == 0)
		{
			Tile->SetFailed(LOCTEXT("ScreenshotRefused", "The service did not store this screenshot").ToString());
		}
	}
	ShowMessage(EMessageKind::Error,
	            LOCTEXT("ScreenshotFailed", "The screenshot %1 was not stored: the service refused it or could not be "
	                                        "reached (the log says why).")
	                .ToString()
	                .arg(FPaths::GetCleanFilename(ImageData.Url)));
}

void SOrvaEditorWorldView::ShowMessage(EMessageKind Kind, const QString& Text, std::function<void()> Retry)
{
	MessageKind = Kind;
	RetryAction = std::move(Retry);
	static const char* const Colours[] = {"#1f4e79", "#1e5631", "#7a1f1f"};
	MessageBar->setStyleSheet(QStringLiteral("QFrame#MessageBar { background: %1; border-radius: 4px; }"
	                                         "QFrame#MessageBar QLabel { color: white; }")
	                              .arg(QLatin1String(Colours[int(Kind)])));
	MessageText->setText(Text);
	RetryButton->setVisible(bool(RetryAction));
	MessageBar->show();
	UE_LOG(LogTemp, Display, QStringLiteral("OrvaSDK panel: ") + Text);
}

void SOrvaEditorWorldView::DismissMessage()
{
	RetryAction = nullptr;
	MessageBar->hide();
}

#undef LOCTEXT_NAMESPACE
