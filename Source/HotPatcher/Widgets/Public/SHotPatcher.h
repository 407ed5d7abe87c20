#pragma once

#include "ExportPatchSettings.h"
#include "ProcWorkerThread.h"
#include "SHotPatcherMissionList.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class FEditorHost;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// The packaging tool's panel: the patch-export settings as a form, saved as the settings file
// the build commandlet reads, a build of them as a separate process, and the build missions of
// the editor with their state and output.
//
// The form edits the tool's global settings object when there is one (the one the plugin fills
// for its builds), else a settings object of the panel's own. Edits stay in the form until they
// are applied, which Save and Build do first; Reload shows the settings object again.
class SHotPatcher : public QWidget
{
	Q_OBJECT

public:
	// Without a host the panel edits and saves settings but cannot build: it knows no project.
	explicit SHotPatcher(FEditorHost* InHost = nullptr, QWidget* Parent = nullptr);
	~SHotPatcher() override;

	// The settings object the form applies to.
	FExportPatchSettings& GetSettingsObject();
	// The form shows the settings object.
	void ReloadFromSettings();
	// The form as a settings record; false with a message naming the bad field or row.
	bool ReadForm(FExportPatchSettings& OutSettings, QString& OutError) const;
	// Validates the form and writes it into the settings object.
	bool ApplyToSettings(QString& OutError);
	// Applies the form, then writes the settings file at Path (replaced only once complete).
	bool SaveSettingsFile(const QString& Path, QString& OutError);
	// Reads a settings file into the form (not yet applied); a bad file changes nothing.
	bool LoadSettingsFile(const QString& Path, QString& OutError);
	// Applies the form, writes the settings file at GetConfigPath() and starts the build commandlet
	// on it. Null with a message when the form is bad, there is no project, or a build of the same
	// version is running.
	FProcWorkerThreadPtr StartBuild(QString& OutError);
	// The settings file the Save and Build buttons write: the path field, else the project's
	// saved "HotPatcher" folder / "<VersionId>_PatchConfig.json".
	QString GetConfigPath() const;

	QLineEdit* GetVersionIdText() const { return VersionIdText; }
	QListWidget* GetPlatformList() const { return PlatformList; }
	QCheckBox* GetCustomPakNameCheck() const { return CustomPakNameCheck; }
	QLineEdit* GetPakNameRuleText() const { return PakNameRuleText; }
	QCheckBox* GetByBaseVersionCheck() const { return ByBaseVersionCheck; }
	QLineEdit* GetBaseVersionText() const { return BaseVersionText; }
	QLineEdit* GetSavePathText() const { return SavePathText; }
	QPlainTextEdit* GetCommandletArgsText() const { return CommandletArgsText; }
	QTableWidget* GetAssetTable() const { return AssetTable; }
	QTableWidget* GetReplaceTable() const { return ReplaceTable; }
	QTableWidget* GetExternTable() const { return ExternTable; }
	QLineEdit* GetConfigPathText() const { return ConfigPathText; }
	QPushButton* GetReloadButton() const { return ReloadButton; }
	QPushButton* GetSaveButton() const { return SaveButton; }
	QPushButton* GetBuildButton() const { return BuildButton; }
	QPushButton* GetCancelButton() const { return MissionList->GetCancelButton(); }
	QTableWidget* GetMissionTable() const { return MissionList->GetMissionTable(); }
	QPlainTextEdit* GetMissionOutput() const { return MissionList->GetMissionOutput(); }
	// The outcome of the last action, or why it failed.
	QLabel* GetStatusText() const { return StatusText; }

	// The most output lines the panel keeps per mission; older ones are dropped.
	static constexpr int MaxOutputLines = SHotPatcherMissionList::MaxOutputLines;

Q_SIGNALS:
	void SettingsSaved(const QString& Path);

private:
	// The form mapping (SHotPatcherForm.cpp): the fields, the settings shown in them.
	QWidget* BuildSettingsForm();
	void ShowSettings(const FExportPatchSettings& Settings);
	void ReportStatus(const QString& Text, bool bError);
	void OnSaveClicked();
	void OnBuildClicked();
	void OnLoadClicked();

	QPointer<FEditorHost> Host;
	// Used when the tool has no global settings object.
	FExportPatchSettings OwnSettings;

	QLineEdit* VersionIdText = nullptr;
	QListWidget* PlatformList = nullptr;
	QCheckBox* CustomPakNameCheck = nullptr;
	QLineEdit* PakNameRuleText = nullptr;
	QCheckBox* ByBaseVersionCheck = nullptr;
	QLineEdit* BaseVersionText = nullptr;
	QLineEdit* SavePathText = nullptr;
	QPlainTextEdit* CommandletArgsText = nullptr;
	QTableWidget* AssetTable = nullptr;
	QTableWidget* ReplaceTable = nullptr;
	QTableWidget* ExternTable = nullptr;
	QLineEdit* ConfigPathText = nullptr;
	QPushButton* ReloadButton = nullptr;
	QPushButton* LoadButton = nullptr;
	QPushButton* SaveButton = nullptr;
	QPushButton* BuildButton = nullptr;
	SHotPatcherMissionList* MissionList = nullptr;
	QLabel* StatusText = nullptr;
	int NextExternGroup = 0;
};
