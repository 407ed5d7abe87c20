#include "SHotPatcher.h"
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

// The form's fields and how they map to and from the settings record.

using namespace HotPatcherPanel;

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
} // namespace

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
