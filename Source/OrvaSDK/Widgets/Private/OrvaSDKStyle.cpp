#include "OrvaSDKStyle.h"

#include "EditorServices.h"
#include "Log.h"
#include "Paths.h"

#include <QGuiApplication>

namespace
{
const QSize Icon20x20(20, 20);
const QSize Icon40x40(40, 40);
const QSize Icon200x200(200, 200);
} // namespace

void FOrvaSDKStyle::Initialize(FSlateStyleRegistry& InRegistry, const FPluginManager& Plugins)
{
	if (StyleInstance)
	{
		return;
	}
	StyleInstance = Create(Plugins);
	Registry = &InRegistry;
	Registry->RegisterSlateStyle(*StyleInstance);
}

void FOrvaSDKStyle::Shutdown()
{
	if (!StyleInstance)
	{
		return;
	}
	if (Registry)
	{
		Registry->UnRegisterSlateStyle(StyleInstance->GetStyleSetName());
	}
	if (StyleInstance.use_count() != 1)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("OrvaSDKStyle is still referenced at shutdown"));
	}
	StyleInstance.reset();
	Registry = nullptr;
}

void FOrvaSDKStyle::ReloadTextures()
{
	if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && Registry)
	{
		Registry->ReloadTextureResources();
	}
}

const FSlateStyleSet& FOrvaSDKStyle::Get()
{
	Q_ASSERT(StyleInstance);
	return *StyleInstance;
}

QString FOrvaSDKStyle::GetStyleSetName()
{
	return QStringLiteral("OrvaSDKStyle");
}

std::shared_ptr<FSlateStyleSet> FOrvaSDKStyle::Create(const FPluginManager& Plugins)
{
	auto Style = std::make_shared<FSlateStyleSet>(GetStyleSetName());
	const std::optional<QString> BaseDir = Plugins.FindPluginBaseDir(QStringLiteral("OrvaSDK"));
	if (!BaseDir)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("OrvaSDKStyle: the plugin OrvaSDK is not known; its icons are missing"));
	}
	Style->SetContentRoot(FPaths::Combine(BaseDir.value_or(QString()), QStringLiteral("Resources")));
	const QString Png = QStringLiteral(".png");
	Style->Set(
	    QStringLiteral("OrvaSDK.PluginAction"),
	    std::make_unique<FSlateImageBrush>(Style->RootToContentDir(QStringLiteral("ButtonIcon_40x"), Png), Icon40x40));
	Style->Set(
	    QStringLiteral("OrvaSDK.Logo"),
	    std::make_unique<FSlateImageBrush>(Style->RootToContentDir(QStringLiteral("Icon128"), Png), Icon200x200));
	Style->Set(
	    QStringLiteral("OrvaSDK.BtnIcon"),
	    std::make_unique<FSlateImageBrush>(Style->RootToContentDir(QStringLiteral("ButtonIcon_40x"), Png), Icon20x20));
	return Style;
}
