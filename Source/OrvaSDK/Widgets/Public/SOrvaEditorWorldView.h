#pragma once

#include "AssetData.h"
#include "OrvaSDKSubsystem.h"

#include <QLabel>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class FEditorHost;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;
class SExpandableArea;
class SObjectPropertyEntryBox;
class SOrvaSpinningImage;
class SOrvaThumbnail;
class UOrvaAsyncFileUploader;
class UOrvaDataCacheSubsystem;
struct FOrvaImageData;

// A one-line text that gives way to its neighbours: it draws as much of its text as fits, the rest
// as "...", and shows the whole text as its tooltip; text() is always the whole text.
class SOrvaElidingLabel : public QLabel
{
	Q_OBJECT

public:
	explicit SOrvaElidingLabel(QWidget* Parent = nullptr);
	void SetFullText(const QString& Text);
	// What is drawn at the current width.
	QString GetShownText() const;
	bool IsElided() const { return GetShownText() != text(); }
	QSize minimumSizeHint() const override;

protected:
	void paintEvent(QPaintEvent* Event) override;
};

// The panel shown while the creator is logged in: the creator's worlds as picture tiles (a "+"
// tile first makes a new one), and for the picked world its name, description, privacy and
// screenshots, the entry map, the build, the client launch and the publish.
//
// It keeps no world state of its own: everything shown is read from the SDK subsystem's current
// workspace and the data cache whenever the panel is drawn (a timer re-reads it while the panel is
// shown), and every action is one call into the subsystems. Each control does nothing when a
// subsystem is missing.
class SOrvaPreflightReportView;

class SOrvaEditorWorldView : public QWidget
{
	Q_OBJECT

public:
	// The platform's web site, opened by "Launch Sandbox": the "SandboxUrl" of the settings file's
	// "Development" section; empty (the entry is then disabled) when none is configured.
	QString SandboxUrl() const;

	// What the message bar says; it stays until dismissed or replaced by the next message.
	enum class EMessageKind
	{
		Info,
		Success,
		Error
	};
	void ShowMessage(EMessageKind Kind, const QString& Text, std::function<void()> Retry = {});
	void DismissMessage();
	EMessageKind GetMessageKind() const { return MessageKind; }

	explicit SOrvaEditorWorldView(FEditorHost* InHost, QWidget* Parent = nullptr);
	~SOrvaEditorWorldView() override;

	QSize sizeHint() const override { return QSize(800, 1080); }

	// What the layout binds to; each reads the subsystem anew, a missing one counts as false.
	bool HasWorld() const;
	bool IsEditable() const;
	bool HasEntryMap() const;

	void HandleWorldSelected(const FOrvaWorldDataPtr& Item);
	void HandleWorkspaceChanged(const FWorkspaceData& Workspace);
	void HandleEntryMapChanged(const FAssetData& AssetData);
	void HandlePrivacyChanged(const QString& Name);
	// Asks first: logging out needs the password again.
	void OnBackClicked();
	void OnCloseClicked();
	// Asks first, then deletes the world of that id.
	void OnDeleteWorldClicked(const QString& WorldId);
	void OnBuildClicked();
	// Shows the pre-flight report of the current world under the build row.
	void OnCheckClicked();
	void OnPublishClicked();
	void OnLaunchClicked();
	// Sends the current world's name and description when they differ from what was last sent
	// (bForce: in any case).
	void SendWorldDetails(bool bForce = false);
	void OnAddScreenshotsClicked();
	void OnCopyWorldIdClicked();
	void LaunchSandbox();
	void OpenBuildFolder();
	// The folder "Open Build Folder" opens: the project's "Saved/HotPatcher/" and the entry map's name.
	QString GetBuildFolder() const;

	// Builds the strip or the grid again from the data cache.
	void RefreshWorldList();
	void RefreshScreenshots();
	// Re-reads every bound value: texts, visibilities, enabled states.
	void UpdateBoundState();

	// The running task of the current workspace in words; empty when there is nothing to tell.
	QString GetProgressText() const;
	const QStringList& GetPrivacyOptions() const { return PrivacyOptions; }
	const QString& GetPrivacySelection() const { return PrivacySelection; }

	QPushButton* GetBackButton() const { return BackButton; }
	SOrvaElidingLabel* GetAccountText() const { return AccountText; }
	QListWidget* GetWorldListView() const { return WorldListView; }
	QListWidget* GetScreenshotTileView() const { return ScreenshotTileView; }
	QFrame* GetInfoArea() const { return InfoArea; }
	SOrvaElidingLabel* GetTitleText() const { return TitleText; }
	QComboBox* GetPrivacyCombo() const { return PrivacyCombo; }
	QPushButton* GetCloseButton() const { return CloseButton; }
	QLineEdit* GetWorldNameBox() const { return WorldNameBox; }
	QPlainTextEdit* GetDescriptionBox() const { return DescriptionBox; }
	SExpandableArea* GetInformationArea() const { return InformationArea; }
	SExpandableArea* GetUploadArea() const { return UploadArea; }
	QWidget* GetUploadBody() const { return UploadBody; }
	SObjectPropertyEntryBox* GetEntryMapPicker() const { return EntryMapPicker; }
	QPushButton* GetBuildButton() const { return BuildButton; }
	QPushButton* GetCheckButton() const { return CheckButton; }
	SOrvaPreflightReportView* GetPreflightView() const { return PreflightView; }
	QLabel* GetProgressLabel() const { return ProgressLabel; }
	QWidget* GetActionBar() const { return ActionBar; }
	QPushButton* GetLaunchButton() const { return LaunchButton; }
	QToolButton* GetLaunchCombo() const { return LaunchCombo; }
	QMenu* GetLaunchMenu() const { return LaunchMenu; }
	QPushButton* GetPublishButton() const { return PublishButton; }
	QWidget* GetWorldIdRow() const { return WorldIdRow; }
	QPushButton* GetWorldIdButton() const { return WorldIdButton; }
	QLabel* GetWorldIdText() const { return WorldIdText; }
	QFrame* GetMessageBar() const { return MessageBar; }
	QLabel* GetMessageText() const { return MessageText; }
	QPushButton* GetRetryButton() const { return RetryButton; }
	QPushButton* GetDismissButton() const { return DismissButton; }
	QLabel* GetEmptyListHint() const { return EmptyListHint; }

	// The strip's "+" tile, and the tile of a world by its Id (null when it has none).
	QPushButton* GetNewWorldButton() const { return NewWorldButton; }
	SOrvaThumbnail* FindWorldTile(const QString& WorldId) const;
	QList<SOrvaThumbnail*> GetWorldTiles() const;
	// The grid's "+" tile and its screenshot tiles, in order.
	QPushButton* GetAddScreenshotButton() const { return AddScreenshotButton; }
	QList<SOrvaThumbnail*> GetScreenshotTiles() const;

protected:
	void showEvent(QShowEvent* Event) override;
	void hideEvent(QHideEvent* Event) override;
	void resizeEvent(QResizeEvent* Event) override;
	bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
	UOrvaSDKSubsystem* Sdk() const;
	UOrvaDataCacheSubsystem* DataCache() const;
	QWidget* BuildInformation();
	QWidget* BuildUpload();
	QWidget* BuildActionBar();
	QWidget* BuildWorldIdRow();
	void BuildLaunchMenu();
	void OnWorldNameChanged(const QString& Text);
	void OnDescriptionChanged();
	void FitScreenshotGrid();
	// An edit was committed (Enter, focus leaving a box): the details go out shortly, once.
	void CommitDetails();
	QString DetailsKey() const;
	void HandleServiceFailure(const QString& What, const QString& Cause);
	void HandleWorldSaved(const QString& WorldId);
	void HandleImageUploadEnded(const FOrvaImageData& ImageData);
	void HandleClientLaunched(bool bStarted);
	// Reads the started client's log for its verdict on the world.
	void PollClientVerdict();
	void WatchUpload(UOrvaAsyncFileUploader* Uploader);
	void FinishPublishIfDone();
	void SyncPrivacyFromWorkspace();

	FEditorHost* Host;
	QStringList PrivacyOptions;
	QString PrivacySelection;
	// Until HandleWorkspaceChanged or the close button set it, InfoArea shows while HasWorld holds.
	bool bInfoAreaBound = true;
	// The records the strip's rows stand for, row by row.
	QList<FOrvaWorldDataPtr> ShownWorlds;
	QTimer* BindingTimer = nullptr;
	// Commits coalesce: Enter and the focus leaving right after send once.
	QTimer* DetailsTimer = nullptr;
	QString LastSentDetails;
	// Which of the panel's own tasks the uploads started now belong to.
	enum class ETask
	{
		None,
		Publish,
		Launch
	};
	ETask StartingTask = ETask::None;
	ETask WatchedTask = ETask::None;
	int UploadsRunning = 0;
	QStringList FailedUploads;
	// Local screenshots the service refused (case-folded paths): their tiles say so when rebuilt.
	QSet<QString> FailedScreenshots;
	// The started client's log, read from where it stood at the launch, until its verdict shows.
	QTimer* VerdictTimer = nullptr;
	QString ClientLogPath;
	qint64 ClientLogOffset = 0;
	int VerdictPolls = 0;
	// A world just created, opened once the list holds it.
	QString NewWorldIdentifier;
	EMessageKind MessageKind = EMessageKind::Info;
	std::function<void()> RetryAction;
	QFrame* MessageBar = nullptr;
	QLabel* MessageText = nullptr;
	QPushButton* RetryButton = nullptr;
	QPushButton* DismissButton = nullptr;
	QLabel* EmptyListHint = nullptr;

	QPushButton* BackButton = nullptr;
	SOrvaElidingLabel* AccountText = nullptr;
	QListWidget* WorldListView = nullptr;
	QPointer<QPushButton> NewWorldButton;
	QFrame* InfoArea = nullptr;
	QPushButton* CloseButton = nullptr;
	SOrvaElidingLabel* TitleText = nullptr;
	QComboBox* PrivacyCombo = nullptr;
	SExpandableArea* InformationArea = nullptr;
	QLineEdit* WorldNameBox = nullptr;
	QPlainTextEdit* DescriptionBox = nullptr;
	QListWidget* ScreenshotTileView = nullptr;
	QPointer<QPushButton> AddScreenshotButton;
	SExpandableArea* UploadArea = nullptr;
	QWidget* UploadBody = nullptr;
	SObjectPropertyEntryBox* EntryMapPicker = nullptr;
	QPushButton* BuildButton = nullptr;
	QPushButton* CheckButton = nullptr;
	SOrvaPreflightReportView* PreflightView = nullptr;
	QLabel* ProgressLabel = nullptr;
	SOrvaSpinningImage* ProgressThrobber = nullptr;
	QWidget* ActionBar = nullptr;
	QPushButton* LaunchButton = nullptr;
	QToolButton* LaunchCombo = nullptr;
	QMenu* LaunchMenu = nullptr;
	QPushButton* PublishButton = nullptr;
	QWidget* WorldIdRow = nullptr;
	QPushButton* WorldIdButton = nullptr;
	QLabel* WorldIdText = nullptr;
};
