#include "OrvaLevelChooser.h"

#include "AssetTools.h"
#include "EditorHost.h"
#include "ObjectClasses.h"
#include "ObjectPropertyEntryBox.h"
#include "Text.h"

#include <QLabel>

UOrvaLevelChooser::UOrvaLevelChooser(QWidget* Parent)
    : UNativeWidgetHost(Parent)
{
}

void UOrvaLevelChooser::SetSection(const FSoftObjectPath& InPath)
{
	ChosenLevelPath = InPath;
	RefreshPicker();
}

void UOrvaLevelChooser::ClearSection()
{
	ChosenLevelPath.Reset();
	RefreshPicker();
}

bool UOrvaLevelChooser::IsNone() const
{
	const QString PackageName = ChosenLevelPath.GetLongPackageName();
	return !ChosenLevelPath.IsValid() || PackageName.isEmpty() || PackageName == QLatin1String("None");
}

QString UOrvaLevelChooser::GetLevelPath() const
{
	return ChosenLevelPath.ToString();
}

void UOrvaLevelChooser::OnLevelChanged(const FAssetData& AssetData)
{
	const FSoftObjectPath Path = AssetData.IsValid() ? AssetData.GetSoftObjectPath() : FSoftObjectPath();
	FObjectPtr Object;
	FEditorHost* Host = GetEditorHost();
	if (Host && Path.IsValid())
	{
		Object = Host->AssetTools().FindObject(Path.ToString());
		if (!Object)
		{
			Object = Host->AssetTools().LoadObject(Path.ToString());
		}
	}
	if (Object)
	{
		if (Path != ChosenLevelPath)
		{
			ChosenLevelPath = Path;
			RefreshPicker();
			// A copy: a listener that changes the choice does not change what later
			// listeners get.
			Q_EMIT OnOrvaLevelChoosen(FSoftObjectPath(Path));
		}
		return;
	}
	// A cleared pick, or a level that does not load: remembered, but no choice to
	// announce.
	ChosenLevelPath = Path;
	RefreshPicker();
}

void UOrvaLevelChooser::ClearSectionWhenMapChanged(UWorld*, EMapChangeType)
{
	ClearSection();
}

QWidget* UOrvaLevelChooser::RebuildWidget()
{
	FEditorHost* Host = GetEditorHost();
	if (!Host)
	{
		auto* Text =
		    new QLabel(NSLOCTEXT("UOrvaLevelChooser", "NoEditor", "Levels are listed in the editor only").ToString());
		Text->setObjectName(QStringLiteral("NoEditorText"));
		return Text;
	}
	SObjectPropertyEntryBox::FArguments Args;
	Args.AllowedClass = UWorld::StaticClass();
	Args.ObjectPath = [this] { return GetLevelPath(); };
	auto* Box = new SObjectPropertyEntryBox(Host->AssetRegistry(), Args);
	connect(Box, &SObjectPropertyEntryBox::OnObjectChanged, this, &UOrvaLevelChooser::OnLevelChanged);
	// The box reads the host's registry: it goes before the host does.
	connect(Host, &QObject::destroyed, this, &UOrvaLevelChooser::ReleaseSlateResources, Qt::UniqueConnection);
	return Box;
}

void UOrvaLevelChooser::RefreshPicker()
{
	if (auto* Box = qobject_cast<SObjectPropertyEntryBox*>(GetCachedWidget()))
	{
		Box->RefreshValue();
	}
}
