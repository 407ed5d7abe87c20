#include "SHotPatcher.h"
#include "SHotPatcherMissionList.h"
#include "SHotPatcherParts.h"

#include "EditorHost.h"
#include "FileHelper.h"
#include "FlibHotPatcherCoreHelper.h"
#include "FlibPatchParserHelper.h"
#include "HotPatcherEditor.h"
#include "Paths.h"
#include "SerializeStructJson.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace HotPatcherPanel;

namespace
{
// A version id names the settings file and the output folder: one plain file name, never a path.
bool IsSafeVersionId(const QString& VersionId)
{
	static const QRegularExpression Allowed(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
	return Allowed.match(VersionId).hasMatch() && !VersionId.contains(QStringLiteral(".."));
}

bool WriteTextFile(const QString& Path, const QString& Text, QString& OutError)
{
	if (!FPaths::CreateDirectoryTree(FPaths::GetPath(Path)))
	{
		OutError = Tr("CannotCreateFolder", "Cannot create the folder %1").arg(FPaths::GetPath(Path));
		return false;
	}
	QString Reason;
	if (!FFileHelper::SaveStringToFile(Text, Path, &Reason))
	{
		OutError = Tr("CannotWriteFile", "Cannot write %1: %2").arg(Path, Reason);
		return false;
	}
	return true;
}
} // namespace

SHotPatcher::SHotPatcher(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SHotPatcher"));
	if (Host)
	{
		OwnSettings.SetProjectDir(Host->Paths().ProjectDir());
	}
	auto* Layout = new QVBoxLayout(this);
	auto* Splitter = new QSplitter(Qt::Vertical);
	Splitter->setChildrenCollapsible(false);
	auto* Scroll = new QScrollArea();
	Scroll->setWidgetResizable(true);
	Scroll->setFrameShape(QFrame::NoFrame);
	Scroll->setWidget(BuildSettingsForm());
	Splitter->addWidget(Scroll);
	MissionList = new SHotPatcherMissionList();
	Splitter->addWidget(MissionList);
	Splitter->setStretchFactor(0, 3);
	Splitter->setStretchFactor(1, 2);
	Layout->addWidget(Splitter, 1);

	auto* Buttons = new QHBoxLayout();
	ConfigPathText = new QLineEdit();
	ConfigPathText->setObjectName(QStringLiteral("ConfigPath"));
	ConfigPathText->setPlaceholderText(Tr("ConfigPathHint", "Saved/HotPatcher/<Version>_PatchConfig.json"));
	auto* Browse = new QPushButton(QStringLiteral("..."));
	Browse->setObjectName(QStringLiteral("BrowseConfig"));
	Browse->setFixedWidth(Browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
	Browse->setToolTip(Tr("BrowseTip", "Choose the settings file"));
	ReloadButton = new QPushButton(Tr("Reload", "Reload"));
	ReloadButton->setObjectName(QStringLiteral("Reload"));
	ReloadButton->setToolTip(Tr("ReloadTip", "Show the current settings again, dropping unsaved edits"));
	LoadButton = new QPushButton(Tr("Load", "Load..."));
	LoadButton->setObjectName(QStringLiteral("Load"));
	SaveButton = new QPushButton(Tr("Save", "Save"));
	SaveButton->setObjectName(QStringLiteral("Save"));
	BuildButton = new QPushButton(Tr("Build", "Build"));
	BuildButton->setObjectName(QStringLiteral("Build"));
	BuildButton->setEnabled(Host != nullptr);
	if (!Host)
	{
		BuildButton->setToolTip(Tr("NoProject", "No project is open: settings can be saved, not built"));
	}
	Buttons->addWidget(new QLabel(Tr("SettingsFile", "Settings file")));
	Buttons->addWidget(ConfigPathText, 1);
	Buttons->addWidget(Browse);
	Buttons->addWidget(ReloadButton);
	Buttons->addWidget(LoadButton);
	Buttons->addWidget(SaveButton);
	Buttons->addWidget(BuildButton);
	Layout->addLayout(Buttons);
	StatusText = new QLabel();
	StatusText->setObjectName(QStringLiteral("Status"));
	StatusText->setWordWrap(true);
	StatusText->setTextInteractionFlags(Qt::TextSelectableByMouse);
	Layout->addWidget(StatusText);

	connect(ReloadButton, &QPushButton::clicked, this,
	        [this]
	        {
		        ReloadFromSettings();
		        ReportStatus(Tr("Reloaded", "Showing the current settings"), false);
	        });
	connect(SaveButton, &QPushButton::clicked, this, &SHotPatcher::OnSaveClicked);
	connect(BuildButton, &QPushButton::clicked, this, &SHotPatcher::OnBuildClicked);
	connect(LoadButton, &QPushButton::clicked, this, &SHotPatcher::OnLoadClicked);
	connect(Browse, &QPushButton::clicked, this,
	        [this]
	        {
		        // Not modal for the editor: the dialog answers through its signal.
		        auto* Dialog = new QFileDialog(this, Tr("SaveSettingsTitle", "Settings file"), GetConfigPath(),
		                                       QStringLiteral("JSON (*.json)"));
		        Dialog->setAttribute(Qt::WA_DeleteOnClose);
		        Dialog->setAcceptMode(QFileDialog::AcceptSave);
		        connect(Dialog, &QFileDialog::fileSelected, this,
		                [this](const QString& Path) { ConfigPathText->setText(Path); });
		        Dialog->open();
	        });

	ReloadFromSettings();
}

SHotPatcher::~SHotPatcher() = default;

FExportPatchSettings& SHotPatcher::GetSettingsObject()
{
	return GPatchSettings ? *GPatchSettings : OwnSettings;
}

void SHotPatcher::ReloadFromSettings()
{
	ShowSettings(GetSettingsObject());
}

bool SHotPatcher::ApplyToSettings(QString& OutError)
{
	FExportPatchSettings Settings;
	if (!ReadForm(Settings, OutError))
	{
		return false;
	}
	GetSettingsObject() = Settings;
	return true;
}

QString SHotPatcher::GetConfigPath() const
{
	const QString Chosen = ConfigPathText->text().trimmed();
	if (!Chosen.isEmpty())
	{
		return FPaths::ConvertRelativePathToFull(Chosen);
	}
	const QString VersionId = VersionIdText->text().trimmed();
	if (!Host || !IsSafeVersionId(VersionId))
	{
		return QString();
	}
	return FPaths::ConvertRelativePathToFull(
	    FPaths::Combine({Host->Paths().ProjectSavedDir(), QStringLiteral("HotPatcher"),
	                     VersionId + QStringLiteral("_PatchConfig.json")}));
}

bool SHotPatcher::SaveSettingsFile(const QString& Path, QString& OutError)
{
	if (Path.trimmed().isEmpty())
	{
		OutError = Tr("NoConfigPath", "Choose the settings file to write");
		return false;
	}
	FExportPatchSettings Settings;
	if (!ReadForm(Settings, OutError))
	{
		return false;
	}
	QString Json;
	if (!TSerializeStructAsJsonString(Settings, Json))
	{
		OutError = Tr("CannotSerialize", "The settings cannot be written as JSON");
		return false;
	}
	if (!WriteTextFile(Path, Json, OutError))
	{
		return false;
	}
	GetSettingsObject() = Settings;
	Q_EMIT SettingsSaved(Path);
	return true;
}

bool SHotPatcher::LoadSettingsFile(const QString& Path, QString& OutError)
{
	QFile File(Path);
	if (!File.open(QIODevice::ReadOnly))
	{
		OutError = Tr("CannotRead", "Cannot read %1: %2").arg(Path, File.errorString());
		return false;
	}
	FExportPatchSettings Settings;
	Settings.SetProjectDir(GetSettingsObject().GetProjectDir());
	QString Error;
	if (!TDeserializeJsonStringAsStruct(QString::fromUtf8(File.readAll()), Settings, &Error))
	{
		OutError = Tr("MalformedFile", "Malformed settings file %1: %2").arg(Path, Error);
		return false;
	}
	ShowSettings(Settings);
	ConfigPathText->setText(Path);
	return true;
}

FProcWorkerThreadPtr SHotPatcher::StartBuild(QString& OutError)
{
	if (!Host)
	{
		OutError = Tr("NoProject", "No project is open: settings can be saved, not built");
		return nullptr;
	}
	FExportPatchSettings Settings;
	if (!ReadForm(Settings, OutError))
	{
		return nullptr;
	}
	if (!IsSafeVersionId(Settings.VersionId))
	{
		OutError =
		    Tr("BadVersionId", "The version id names the build's files: use letters, digits, _ . - only (\"%1\")")
		        .arg(Settings.VersionId);
		return nullptr;
	}
	if (Settings.PakTargetPlatforms.isEmpty())
	{
		OutError = Tr("NoPlatform", "Choose at least one target platform");
		return nullptr;
	}
	for (const FProcWorkerThreadPtr& Running : FHotPatcherEditorModule::Get().GetRunningMissions())
	{
		// Two builds of one version would write the same paks.
		if (Running->GetMissionName() == Settings.VersionId)
		{
			OutError = Tr("BuildRunning", "A build of %1 is running; wait for it to end").arg(Settings.VersionId);
			return nullptr;
		}
	}
	const QString ConfigPath = GetConfigPath();
	if (!SaveSettingsFile(ConfigPath, OutError))
	{
		return nullptr;
	}
	const QString CommandLine = QStringLiteral("\"%1\" -run=HotPatcher -config=\"%2\" %3")
	                                .arg(UFlibPatchParserHelper::GetProjectFilePath(Host->Paths()), ConfigPath,
	                                     Settings.GetCombinedAdditionalCommandletArgs());
	const QString NotifyText =
	    QStringLiteral("Packaging %1 for %2...")
	        .arg(Settings.VersionId, UFlibHotPatcherCoreHelper::GetPlatformsStr(Settings.PakTargetPlatforms));
	return FHotPatcherEditorModule::Get().RunProcMission(UFlibHotPatcherCoreHelper::GetUECmdBinary(), CommandLine,
	                                                     Settings.VersionId, NotifyText);
}

void SHotPatcher::OnSaveClicked()
{
	QString Error;
	const QString Path = GetConfigPath();
	if (SaveSettingsFile(Path, Error))
	{
		ReportStatus(Tr("Saved", "Saved %1").arg(Path), false);
	}
	else
	{
		ReportStatus(Error, true);
	}
}

void SHotPatcher::OnBuildClicked()
{
	QString Error;
	if (const FProcWorkerThreadPtr Worker = StartBuild(Error))
	{
		ReportStatus(Tr("BuildStarted", "Building %1").arg(Worker->GetMissionName()), false);
	}
	else
	{
		ReportStatus(Error, true);
	}
}

void SHotPatcher::OnLoadClicked()
{
	auto* Dialog = new QFileDialog(this, Tr("LoadSettingsTitle", "Settings file"), GetConfigPath(),
	                               QStringLiteral("JSON (*.json)"));
	Dialog->setAttribute(Qt::WA_DeleteOnClose);
	Dialog->setFileMode(QFileDialog::ExistingFile);
	connect(Dialog, &QFileDialog::fileSelected, this,
	        [this](const QString& Path)
	        {
		        QString Error;
		        if (LoadSettingsFile(Path, Error))
		        {
			        ReportStatus(Tr("Loaded", "Loaded %1; Save or Build applies it").arg(Path), false);
		        }
		        else
		        {
			        ReportStatus(Error, true);
		        }
	        });
	Dialog->open();
}

void SHotPatcher::ReportStatus(const QString& Text, bool bError)
{
	StatusText->setText(Text);
	StatusText->setStyleSheet(bError ? QStringLiteral("color: #e05050;") : QString());
}
