#pragma once

#include "AssetData.h"
#include "OrvaSDKSubsystem.h"

#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

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
class UOrvaDataCacheSubsystem;

// The panel shown while the creator is logged in: the creator's worlds as picture tiles (a "+"
// tile first makes a new one), and for the picked world its name, description, privacy and
// screenshots, the entry map, the build, the client launch and the publish.
//
// It keeps no world state of its own: everything shown is read from the SDK subsystem's current
// workspace and the data cache whenever the panel is drawn (a timer re-reads it while the panel is
// shown), and every action is one call into the subsystems. Each control does nothing when a
// subsystem is missing.
class SOrvaEditorWorldView : public QWidget
{
	Q_OBJECT

public:
	// The platform's web site, opened by "Launch Sandbox".
	static QString SandboxUrl() { return QStringLiteral("https://orva.example/"); }

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
	void OnBackClicked();
	void OnCloseClicked();
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
	QLabel* GetAccountText() const { return AccountText; }
	QListWidget* GetWorldListView() const { return WorldListView; }
	QListWidget* GetScreenshotTileView() const { return ScreenshotTileView; }
	QFrame* GetInfoArea() const { return InfoArea; }
	QLabel* GetTitleText() const { return TitleText; }
	QComboBox* GetPrivacyCombo() const { return PrivacyCombo; }
	QPushButton* GetCloseButton() const { return CloseButton; }
	QLineEdit* GetWorldNameBox() const { return WorldNameBox; }
	QPlainTextEdit* GetDescriptionBox() const { return DescriptionBox; }
	SExpandableArea* GetInformationArea() const { return InformationArea; }
	SExpandableArea* GetUploadArea() const { return UploadArea; }
	QWidget* GetUploadBody() const { return UploadBody; }
	SObjectPropertyEntryBox* GetEntryMapPicker() const { return EntryMapPicker; }
	QPushButton* GetBuildButton() const { return BuildButton; }
	QLabel* GetProgressLabel() const { return ProgressLabel; }
	QWidget* GetActionBar() const { return ActionBar; }
	QPushButton* GetLaunchButton() const { return LaunchButton; }
	QToolButton* GetLaunchCombo() const { return LaunchCombo; }
	QMenu* GetLaunchMenu() const { return LaunchMenu; }
	QPushButton* GetPublishButton() const { return PublishButton; }
	QWidget* GetWorldIdRow() const { return WorldIdRow; }
	QPushButton* GetWorldIdButton() const { return WorldIdButton; }
	QLabel* GetWorldIdText() const { return WorldIdText; }

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

	FEditorHost* Host;
	QStringList PrivacyOptions;
	QString PrivacySelection;
	// Until HandleWorkspaceChanged or the close button set it, InfoArea shows while HasWorld holds.
	bool bInfoAreaBound = true;
	// The records the strip's rows stand for, row by row.
	QList<FOrvaWorldDataPtr> ShownWorlds;
	QTimer* BindingTimer = nullptr;

	QPushButton* BackButton = nullptr;
	QLabel* AccountText = nullptr;
	QListWidget* WorldListView = nullptr;
	QPointer<QPushButton> NewWorldButton;
	QFrame* InfoArea = nullptr;
	QPushButton* CloseButton = nullptr;
	QLabel* TitleText = nullptr;
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
