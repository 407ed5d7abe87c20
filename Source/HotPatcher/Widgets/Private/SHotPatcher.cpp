#include "SHotPatcher.h"

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

namespace
{
constexpr ETargetPlatform AllPlatforms[] = {
    ETargetPlatform::WindowsClient, ETargetPlatform::WindowsServer, ETargetPlatform::WindowsEditor,
    ETargetPlatform::Windows,       ETargetPlatform::LinuxServer,   ETargetPlatform::LinuxClient,
    ETargetPlatform::Linux,
};

const QString DirectoryKind = QStringLiteral("Directory");
const QString FileKind = QStringLiteral("File");

// Where a table row keeps what its cells do not show.
constexpr int GroupRole = Qt::UserRole;
constexpr int DependencyTypesRole = Qt::UserRole + 1;
constexpr int SpecifyMountPointRole = Qt::UserRole + 2;
constexpr int WildcardRole = Qt::UserRole + 3;

QString Tr(const char* Key, const char* Source)
{
	return QCoreApplication::translate("SHotPatcher", Source, Key);
}

QTableWidgetItem* TextItem(const QString& Text)
{
	return new QTableWidgetItem(Text);
}

QTableWidgetItem* CheckItem(bool bChecked)
{
	auto* Item = new QTableWidgetItem();
	Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
	Item->setCheckState(bChecked ? Qt::Checked : Qt::Unchecked);
	return Item;
}

QString CellText(const QTableWidget* Table, int Row, int Column)
{
	const QTableWidgetItem* Item = Table->item(Row, Column);
	return Item ? Item->text().trimmed() : QString();
}

bool CellChecked(const QTableWidget* Table, int Row, int Column)
{
	const QTableWidgetItem* Item = Table->item(Row, Column);
	return Item && Item->checkState() == Qt::Checked;
}

QVariant CellData(const QTableWidget* Table, int Row, int Column, int Role)
{
	const QTableWidgetItem* Item = Table->item(Row, Column);
	return Item ? Item->data(Role) : QVariant();
}

bool RowIsEmpty(const QTableWidget* Table, int Row, const QList<int>& TextColumns)
{
	for (int Column : TextColumns)
	{
		if (!CellText(Table, Row, Column).isEmpty())
		{
			return false;
		}
	}
	return true;
}

// Check boxes in lists and tables draw their frame from the window colour, which a dark editor
// palette makes invisible; a lighter one shows the unchecked boxes too.
void ShowCheckFrames(QWidget* Widget)
{
	QPalette Palette = Widget->palette();
	Palette.setColor(QPalette::Window, Palette.color(QPalette::Text).darker(130));
	Widget->setPalette(Palette);
}

QTableWidget* MakeTable(const QStringList& Headers, const QString& Name)
{
	auto* Table = new QTableWidget(0, int(Headers.size()));
	Table->setObjectName(Name);
	Table->setHorizontalHeaderLabels(Headers);
	Table->horizontalHeader()->setStretchLastSection(true);
	Table->verticalHeader()->setVisible(false);
	Table->setSelectionBehavior(QAbstractItemView::SelectRows);
	// One line a row: long paths are cut in the middle, where they differ least.
	Table->setWordWrap(false);
	Table->setTextElideMode(Qt::ElideMiddle);
	Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 8);
	Table->setMinimumHeight(96);
	ShowCheckFrames(Table);
	return Table;
}

// The table with + and - buttons below it.
QWidget* WithRowButtons(QTableWidget* Table, const std::function<void()>& AddRow)
{
	auto* Box = new QWidget();
	auto* Layout = new QVBoxLayout(Box);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->addWidget(Table);
	auto* Buttons = new QHBoxLayout();
	auto* Add = new QPushButton(Tr("AddRow", "Add"));
	Add->setObjectName(Table->objectName() + QStringLiteral("Add"));
	auto* Remove = new QPushButton(Tr("RemoveRow", "Remove"));
	Remove->setObjectName(Table->objectName() + QStringLiteral("Remove"));
	Buttons->addWidget(Add);
	Buttons->addWidget(Remove);
	Buttons->addStretch();
	Layout->addLayout(Buttons);
	QObject::connect(Add, &QPushButton::clicked, Table, AddRow);
	QObject::connect(Remove, &QPushButton::clicked, Table,
	                 [Table]
	                 {
		                 QList<int> Rows;
		                 for (const QModelIndex& Index : Table->selectionModel()->selectedRows())
		                 {
			                 Rows.append(Index.row());
		                 }
		                 std::sort(Rows.begin(), Rows.end(), std::greater<int>());
		                 for (int Row : Rows)
		                 {
			                 Table->removeRow(Row);
		                 }
	                 });
	return Box;
}

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

QString StateText(const FProcWorkerThread* Worker)
{
	if (!Worker)
	{
		return Tr("StateEnded", "Ended");
	}
	switch (Worker->GetStatus())
	{
	case EProcWorkerStatus::Ready:
		return Tr("StateReady", "Ready");
	case EProcWorkerStatus::Running:
		return Tr("StateRunning", "Running");
	case EProcWorkerStatus::Succeeded:
		return Tr("StateSucceeded", "Succeeded");
	case EProcWorkerStatus::Failed:
		return Tr("StateFailed", "Failed");
	}
	return QString();
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
	Splitter->addWidget(BuildMissionList());
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

	connect(&FHotPatcherEditorModule::Get(), &FHotPatcherEditorModule::MissionStarted, this, &SHotPatcher::AddMission);
	for (const FProcWorkerThreadPtr& Running : FHotPatcherEditorModule::Get().GetRunningMissions())
	{
		AddMission(Running.get());
	}
	ReloadFromSettings();
}

SHotPatcher::~SHotPatcher() = default;

QWidget* SHotPatcher::BuildSettingsForm()
{
	auto* Form = new QWidget();
	auto* Layout = new QFormLayout(Form);
	Layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

	VersionIdText = new QLineEdit();
	VersionIdText->setObjectName(QStringLiteral("VersionId"));
	Layout->addRow(Tr("VersionId", "Version id"), VersionIdText);

	PlatformList = new QListWidget();
	PlatformList->setObjectName(QStringLiteral("TargetPlatforms"));
	PlatformList->setFlow(QListView::LeftToRight);
	PlatformList->setWrapping(true);
	PlatformList->setMaximumHeight(56);
	ShowCheckFrames(PlatformList);
	Layout->addRow(Tr("TargetPlatforms", "Target platforms"), PlatformList);

	auto* PakName = new QHBoxLayout();
	CustomPakNameCheck = new QCheckBox(Tr("CustomPakName", "Custom pak name"));
	CustomPakNameCheck->setObjectName(QStringLiteral("CustomPakName"));
	ShowCheckFrames(CustomPakNameCheck);
	PakNameRuleText = new QLineEdit();
	PakNameRuleText->setObjectName(QStringLiteral("PakNameRule"));
	PakName->addWidget(CustomPakNameCheck);
	PakName->addWidget(PakNameRuleText, 1);
	Layout->addRow(Tr("PakNameRule", "Pak name rule"), PakName);

	auto* Base = new QHBoxLayout();
	ByBaseVersionCheck = new QCheckBox(Tr("ByBaseVersion", "Against base version"));
	ByBaseVersionCheck->setObjectName(QStringLiteral("ByBaseVersion"));
	ShowCheckFrames(ByBaseVersionCheck);
	BaseVersionText = new QLineEdit();
	BaseVersionText->setObjectName(QStringLiteral("BaseVersion"));
	Base->addWidget(ByBaseVersionCheck);
	Base->addWidget(BaseVersionText, 1);
	Layout->addRow(Tr("BaseVersion", "Base version"), Base);

	SavePathText = new QLineEdit();
	SavePathText->setObjectName(QStringLiteral("SavePath"));
	Layout->addRow(Tr("SavePath", "Output folder"), SavePathText);

	AssetTable = MakeTable({Tr("AssetColumn", "Asset"), Tr("DependenciesColumn", "With dependencies")},
	                       QStringLiteral("SpecifyAssets"));
	AssetTable->setColumnWidth(0, 360);
	Layout->addRow(Tr("SpecifyAssets", "Specified assets"),
	               WithRowButtons(AssetTable,
	                              [this]
	                              {
		                              const int Row = AssetTable->rowCount();
		                              AssetTable->insertRow(Row);
		                              auto* Path = TextItem(QString());
		                              Path->setData(DependencyTypesRole,
		                                            QVariantList{int(EAssetRegistryDependencyTypeEx::Packages)});
		                              AssetTable->setItem(Row, 0, Path);
		                              AssetTable->setItem(Row, 1, CheckItem(true));
		                              AssetTable->editItem(Path);
	                              }));

	ExternTable = MakeTable({Tr("PlatformColumn", "Platform"), Tr("KindColumn", "Kind"), Tr("PathColumn", "Path"),
	                         Tr("MountColumn", "Mount point")},
	                        QStringLiteral("ExternAssets"));
	ExternTable->setColumnWidth(0, 120);
	ExternTable->setColumnWidth(1, 80);
	ExternTable->setColumnWidth(2, 320);
	Layout->addRow(Tr("ExternAssets", "Extern files and folders"),
	               WithRowButtons(ExternTable,
	                              [this]
	                              {
		                              const int Row = ExternTable->rowCount();
		                              ExternTable->insertRow(Row);
		                              FExportPatchSettings Current;
		                              QString Ignored;
		                              ReadForm(Current, Ignored);
		                              const ETargetPlatform Platform = Current.PakTargetPlatforms.isEmpty()
		                                                                   ? ETargetPlatform::WindowsClient
		                                                                   : Current.PakTargetPlatforms.first();
		                              auto* PlatformItem = TextItem(TargetPlatformToString(Platform));
		                              PlatformItem->setData(GroupRole, NextExternGroup++);
		                              ExternTable->setItem(Row, 0, PlatformItem);
		                              ExternTable->setItem(Row, 1, TextItem(DirectoryKind));
		                              ExternTable->setItem(Row, 2, TextItem(QString()));
		                              ExternTable->setItem(Row, 3, TextItem(QString()));
		                              ExternTable->editItem(ExternTable->item(Row, 2));
	                              }));

	ReplaceTable = MakeTable({Tr("FromColumn", "From"), Tr("ToColumn", "To"), Tr("CaseColumn", "Case-sensitive")},
	                         QStringLiteral("ReplacePakListTexts"));
	ReplaceTable->setColumnWidth(0, 240);
	ReplaceTable->setColumnWidth(1, 240);
	Layout->addRow(Tr("ReplaceTexts", "Pak list replacements"),
	               WithRowButtons(ReplaceTable,
	                              [this]
	                              {
		                              const int Row = ReplaceTable->rowCount();
		                              ReplaceTable->insertRow(Row);
		                              ReplaceTable->setItem(Row, 0, TextItem(QString()));
		                              ReplaceTable->setItem(Row, 1, TextItem(QString()));
		                              ReplaceTable->setItem(Row, 2, CheckItem(true));
		                              ReplaceTable->editItem(ReplaceTable->item(Row, 0));
	                              }));

	CommandletArgsText = new QPlainTextEdit();
	CommandletArgsText->setObjectName(QStringLiteral("CommandletArgs"));
	CommandletArgsText->setPlaceholderText(Tr("ArgsHint", "One argument per line"));
	CommandletArgsText->setMaximumHeight(56);
	Layout->addRow(Tr("CommandletArgs", "Commandlet arguments"), CommandletArgsText);
	return Form;
}

QWidget* SHotPatcher::BuildMissionList()
{
	auto* Group = new QGroupBox(Tr("Missions", "Missions"));
	auto* Layout = new QVBoxLayout(Group);
	MissionTable = MakeTable({Tr("MissionColumn", "Mission"), Tr("StateColumn", "State"),
	                          Tr("ProgressColumn", "Progress"), Tr("ResultColumn", "Result")},
	                         QStringLiteral("Missions"));
	MissionTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
	MissionTable->setSelectionMode(QAbstractItemView::SingleSelection);
	MissionTable->setColumnWidth(0, 160);
	MissionTable->setColumnWidth(1, 90);
	MissionTable->setColumnWidth(2, 70);
	MissionTable->setMinimumHeight(80);
	MissionOutput = new QPlainTextEdit();
	MissionOutput->setObjectName(QStringLiteral("MissionOutput"));
	MissionOutput->setReadOnly(true);
	MissionOutput->setMaximumBlockCount(MaxOutputLines + 1);
	MissionOutput->setMinimumHeight(80);
	CancelButton = new QPushButton(Tr("Cancel", "Cancel mission"));
	CancelButton->setObjectName(QStringLiteral("CancelMission"));
	CancelButton->setEnabled(false);
	auto* Top = new QHBoxLayout();
	Top->addWidget(MissionTable, 1);
	Top->addWidget(CancelButton, 0, Qt::AlignTop);
	Layout->addLayout(Top, 1);
	Layout->addWidget(MissionOutput, 2);
	connect(MissionTable, &QTableWidget::itemSelectionChanged, this, &SHotPatcher::ShowSelectedOutput);
	connect(CancelButton, &QPushButton::clicked, this,
	        [this]
	        {
		        const int Row = SelectedMission();
		        if (Row >= 0 && Missions[Row].Worker)
		        {
			        Missions[Row].Worker->Cancel();
		        }
	        });
	return Group;
}

FExportPatchSettings& SHotPatcher::GetSettingsObject()
{
	return GPatchSettings ? *GPatchSettings : OwnSettings;
}

void SHotPatcher::ReloadFromSettings()
{
	ShowSettings(GetSettingsObject());
}

void SHotPatcher::ShowSettings(const FExportPatchSettings& Settings)
{
	VersionIdText->setText(Settings.VersionId);

	// The chosen platforms first, in their order, which is the order of the build.
	PlatformList->clear();
	QList<ETargetPlatform> Order = Settings.PakTargetPlatforms;
	for (ETargetPlatform Platform : AllPlatforms)
	{
		if (!Order.contains(Platform))
		{
			Order.append(Platform);
		}
	}
	for (ETargetPlatform Platform : std::as_const(Order))
	{
		auto* Item = new QListWidgetItem(TargetPlatformToString(Platform), PlatformList);
		Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
		Item->setCheckState(Settings.PakTargetPlatforms.contains(Platform) ? Qt::Checked : Qt::Unchecked);
	}

	CustomPakNameCheck->setChecked(Settings.bCustomPakNameRegular);
	PakNameRuleText->setText(Settings.PakNameRegular);
	ByBaseVersionCheck->setChecked(Settings.bByBaseVersion);
	BaseVersionText->setText(Settings.BaseVersion);
	SavePathText->setText(Settings.SavePath);
	CommandletArgsText->setPlainText(Settings.AdditionalCommandletArgs.join(QLatin1Char('\n')));

	AssetTable->setRowCount(0);
	for (const FPatcherSpecifyAsset& Asset : Settings.IncludeSpecifyAssets)
	{
		const int Row = AssetTable->rowCount();
		AssetTable->insertRow(Row);
		auto* Path = TextItem(Asset.Asset.ToString());
		QVariantList Types;
		for (EAssetRegistryDependencyTypeEx Type : Asset.AssetRegistryDependencyTypes)
		{
			Types.append(int(Type));
		}
		Path->setData(DependencyTypesRole, Types);
		AssetTable->setItem(Row, 0, Path);
		AssetTable->setItem(Row, 1, CheckItem(Asset.bAnalysisAssetDependencies));
	}

	ReplaceTable->setRowCount(0);
	for (const FReplaceText& Replace : Settings.ReplacePakListTexts)
	{
		const int Row = ReplaceTable->rowCount();
		ReplaceTable->insertRow(Row);
		ReplaceTable->setItem(Row, 0, TextItem(Replace.From));
		ReplaceTable->setItem(Row, 1, TextItem(Replace.To));
		ReplaceTable->setItem(Row, 2, CheckItem(Replace.bCaseSensitive));
	}

	// One row per folder or file; the rows of one element share its group, so that saving
	// unchanged rows gives the same elements back.
	ExternTable->setRowCount(0);
	NextExternGroup = 0;
	for (const FPlatformExternAssets& Extern : Settings.AddExternAssetsToPlatform)
	{
		const int Group = NextExternGroup++;
		auto AddRow = [&](const QString& Kind, const QString& Path, const QString& Mount)
		{
			const int Row = ExternTable->rowCount();
			ExternTable->insertRow(Row);
			auto* Platform = TextItem(TargetPlatformToString(Extern.TargetPlatform));
			Platform->setData(GroupRole, Group);
			ExternTable->setItem(Row, 0, Platform);
			ExternTable->setItem(Row, 1, TextItem(Kind));
			ExternTable->setItem(Row, 2, TextItem(Path));
			ExternTable->setItem(Row, 3, TextItem(Mount));
			return Row;
		};
		for (const FExternDirectoryInfo& Directory : Extern.AddExternDirectoryToPak)
		{
			const int Row = AddRow(DirectoryKind, Directory.DirectoryPath, Directory.MountPoint);
			ExternTable->item(Row, 3)->setData(SpecifyMountPointRole, Directory.bSpecifyMountPoint);
			ExternTable->item(Row, 3)->setData(WildcardRole, Directory.WildcardFilter);
		}
		for (const FExternFileInfo& File : Extern.AddExternFileToPak)
		{
			AddRow(FileKind, File.FilePath, File.MountPath);
		}
		if (Extern.AddExternDirectoryToPak.isEmpty() && Extern.AddExternFileToPak.isEmpty())
		{
			// An element with nothing in it still names its platform; keep it as an empty row.
			AddRow(DirectoryKind, QString(), QString());
		}
	}
}

bool SHotPatcher::ReadForm(FExportPatchSettings& OutSettings, QString& OutError) const
{
	FExportPatchSettings Settings = const_cast<SHotPatcher*>(this)->GetSettingsObject();
	Settings.VersionId = VersionIdText->text().trimmed();
	Settings.PakTargetPlatforms.clear();
	for (int Index = 0; Index < PlatformList->count(); ++Index)
	{
		const QListWidgetItem* Item = PlatformList->item(Index);
		ETargetPlatform Platform;
		if (Item->checkState() == Qt::Checked && TargetPlatformFromString(Item->text(), Platform))
		{
			Settings.PakTargetPlatforms.append(Platform);
		}
	}
	Settings.bCustomPakNameRegular = CustomPakNameCheck->isChecked();
	Settings.PakNameRegular = PakNameRuleText->text().trimmed();
	Settings.bByBaseVersion = ByBaseVersionCheck->isChecked();
	Settings.BaseVersion = BaseVersionText->text().trimmed();
	Settings.SavePath = SavePathText->text().trimmed();
	Settings.AdditionalCommandletArgs.clear();
	for (const QString& Line : CommandletArgsText->toPlainText().split(QLatin1Char('\n')))
	{
		if (!Line.trimmed().isEmpty())
		{
			Settings.AdditionalCommandletArgs.append(Line.trimmed());
		}
	}
	if (Settings.bCustomPakNameRegular && Settings.PakNameRegular.isEmpty())
	{
		OutError = Tr("NoPakNameRule", "A custom pak name needs a pak name rule");
		return false;
	}
	if (Settings.bByBaseVersion && Settings.BaseVersion.isEmpty())
	{
		OutError = Tr("NoBaseVersion", "A build against a base version needs the base version file");
		return false;
	}

	Settings.IncludeSpecifyAssets.clear();
	for (int Row = 0; Row < AssetTable->rowCount(); ++Row)
	{
		const QString Text = CellText(AssetTable, Row, 0);
		if (Text.isEmpty())
		{
			continue;
		}
		FPatcherSpecifyAsset Asset;
		Asset.Asset = FSoftObjectPath(Text);
		if (!Asset.Asset.IsValid() || Asset.Asset.GetAssetName().isEmpty())
		{
			OutError = Tr("BadAsset", "Specified asset %1 is no object path (/Game/Maps/Entry.Entry): %2")
			               .arg(Row + 1)
			               .arg(Text);
			return false;
		}
		Asset.bAnalysisAssetDependencies = CellChecked(AssetTable, Row, 1);
		Asset.AssetRegistryDependencyTypes.clear();
		for (const QVariant& Type : CellData(AssetTable, Row, 0, DependencyTypesRole).toList())
		{
			Asset.AssetRegistryDependencyTypes.append(EAssetRegistryDependencyTypeEx(Type.toInt()));
		}
		if (Asset.AssetRegistryDependencyTypes.isEmpty())
		{
			Asset.AssetRegistryDependencyTypes = {EAssetRegistryDependencyTypeEx::Packages};
		}
		Settings.IncludeSpecifyAssets.append(Asset);
	}

	Settings.ReplacePakListTexts.clear();
	for (int Row = 0; Row < ReplaceTable->rowCount(); ++Row)
	{
		if (RowIsEmpty(ReplaceTable, Row, {0, 1}))
		{
			continue;
		}
		// Not trimmed: a replacement may mean its blanks.
		const QString From = ReplaceTable->item(Row, 0) ? ReplaceTable->item(Row, 0)->text() : QString();
		const QString To = ReplaceTable->item(Row, 1) ? ReplaceTable->item(Row, 1)->text() : QString();
		if (From.isEmpty())
		{
			OutError = Tr("EmptyReplace", "Pak list replacement %1 replaces nothing: its From is empty").arg(Row + 1);
			return false;
		}
		Settings.ReplacePakListTexts.append({From, To, CellChecked(ReplaceTable, Row, 2)});
	}

	Settings.AddExternAssetsToPlatform.clear();
	QList<QPair<int, int>> GroupToElement; // group id, element index
	for (int Row = 0; Row < ExternTable->rowCount(); ++Row)
	{
		const QString PlatformName = CellText(ExternTable, Row, 0);
		const QString Kind = CellText(ExternTable, Row, 1);
		const QString Path = CellText(ExternTable, Row, 2);
		const QString Mount = CellText(ExternTable, Row, 3);
		ETargetPlatform Platform;
		if (!TargetPlatformFromString(PlatformName, Platform))
		{
			OutError =
			    Tr("BadPlatform", "Extern row %1 names no known platform: \"%2\"").arg(Row + 1).arg(PlatformName);
			return false;
		}
		if (Kind.compare(DirectoryKind, Qt::CaseInsensitive) != 0 && Kind.compare(FileKind, Qt::CaseInsensitive) != 0)
		{
			OutError = Tr("BadKind", "Extern row %1: the kind is \"%2\", not Directory or File").arg(Row + 1).arg(Kind);
			return false;
		}
		if (Path.isEmpty() && !Mount.isEmpty())
		{
			OutError = Tr("NoExternPath", "Extern row %1 has a mount point but no path").arg(Row + 1);
			return false;
		}
		const QVariant GroupData = CellData(ExternTable, Row, 0, GroupRole);
		const int Group = GroupData.isValid() ? GroupData.toInt() : -1 - Row;
		int Element = -1;
		for (const auto& [KnownGroup, Index] : std::as_const(GroupToElement))
		{
			if (KnownGroup == Group && Settings.AddExternAssetsToPlatform[Index].TargetPlatform == Platform)
			{
				Element = Index;
			}
		}
		if (Element < 0)
		{
			FPlatformExternAssets Extern;
			Extern.TargetPlatform = Platform;
			Settings.AddExternAssetsToPlatform.append(Extern);
			Element = int(Settings.AddExternAssetsToPlatform.size()) - 1;
			GroupToElement.append({Group, Element});
		}
		if (Path.isEmpty())
		{
			continue;
		}
		FPlatformExternAssets& Extern = Settings.AddExternAssetsToPlatform[Element];
		if (Kind.compare(DirectoryKind, Qt::CaseInsensitive) == 0)
		{
			FExternDirectoryInfo Directory;
			Directory.DirectoryPath = Path;
			Directory.MountPoint = Mount;
			Directory.bSpecifyMountPoint = CellData(ExternTable, Row, 3, SpecifyMountPointRole).toBool();
			Directory.WildcardFilter = CellData(ExternTable, Row, 3, WildcardRole).toString();
			Extern.AddExternDirectoryToPak.append(Directory);
		}
		else
		{
			Extern.AddExternFileToPak.append({Path, Mount});
		}
	}
	OutSettings = Settings;
	return true;
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

void SHotPatcher::AddMission(FProcWorkerThread* Worker)
{
	if (!Worker)
	{
		return;
	}
	for (const FMissionRow& Known : Missions)
	{
		if (Known.Worker == Worker)
		{
			return;
		}
	}
	Missions.push_back(FMissionRow{Worker, Worker->GetMissionName(), {}, 0});
	const int Row = MissionTable->rowCount();
	MissionTable->insertRow(Row);
	for (int Column = 0; Column < MissionTable->columnCount(); ++Column)
	{
		MissionTable->setItem(Row, Column, TextItem(QString()));
	}
	UpdateMissionRow(Row);
	connect(Worker, &FProcWorkerThread::ProcOutputLine, this,
	        [this, Row](FProcWorkerThread*, const QString& Line)
	        {
		        FMissionRow& Mission = Missions[Row];
		        Mission.Output.append(Line);
		        if (Mission.Output.size() > MaxOutputLines)
		        {
			        Mission.Output.removeFirst();
			        ++Mission.DroppedLines;
		        }
		        if (SelectedMission() == Row)
		        {
			        MissionOutput->appendPlainText(Line);
		        }
	        });
	connect(Worker, &FProcWorkerThread::ProcProgress, this, [this, Row] { UpdateMissionRow(Row); });
	auto Ended = [this, Row](FProcWorkerThread* Ender)
	{
		UpdateMissionRow(Row);
		if (SelectedMission() == Row && !Ender->IsSucceeded())
		{
			MissionOutput->appendPlainText(Ender->GetFailureReason());
		}
		if (SelectedMission() == Row)
		{
			CancelButton->setEnabled(false);
		}
	};
	connect(Worker, &FProcWorkerThread::ProcSuccessed, this, Ended);
	connect(Worker, &FProcWorkerThread::ProcFaild, this, Ended);
	// The newest mission is the one a creator wants to watch.
	MissionTable->selectRow(Row);
}

void SHotPatcher::UpdateMissionRow(int Row)
{
	const FMissionRow& Mission = Missions[Row];
	const FProcWorkerThread* Worker = Mission.Worker;
	MissionTable->item(Row, 0)->setText(Mission.Name);
	// A worker is released once its mission ended and no one holds it: its row keeps what it showed.
	if (!Worker)
	{
		return;
	}
	MissionTable->item(Row, 1)->setText(StateText(Worker));
	const int Percent = Worker->GetProgressPercent();
	MissionTable->item(Row, 2)->setText(Worker->IsSucceeded()
	                                        ? QStringLiteral("100%")
	                                        : (Percent >= 0 ? QStringLiteral("%1%").arg(Percent) : QString()));
	QString Result;
	if (Worker->GetStatus() == EProcWorkerStatus::Failed)
	{
		Result = Worker->GetFailureReason();
	}
	else if (Worker->GetStatus() == EProcWorkerStatus::Succeeded)
	{
		Result = Tr("ExitZero", "Exit status 0");
	}
	MissionTable->item(Row, 3)->setText(Result);
	MissionTable->item(Row, 3)->setToolTip(Result);
}

int SHotPatcher::SelectedMission() const
{
	const QList<QTableWidgetItem*> Selected = MissionTable->selectedItems();
	return Selected.isEmpty() ? -1 : Selected.first()->row();
}

void SHotPatcher::ShowSelectedOutput()
{
	const int Row = SelectedMission();
	MissionOutput->clear();
	if (Row < 0)
	{
		CancelButton->setEnabled(false);
		return;
	}
	const FMissionRow& Mission = Missions[Row];
	QStringList Lines;
	if (Mission.DroppedLines > 0)
	{
		Lines.append(Tr("Dropped", "(%1 earlier lines not kept)").arg(Mission.DroppedLines));
	}
	Lines.append(Mission.Output);
	if (Mission.Worker && Mission.Worker->GetStatus() == EProcWorkerStatus::Failed)
	{
		Lines.append(Mission.Worker->GetFailureReason());
	}
	MissionOutput->setPlainText(Lines.join(QLatin1Char('\n')));
	CancelButton->setEnabled(Mission.Worker && Mission.Worker->GetStatus() == EProcWorkerStatus::Running);
}
