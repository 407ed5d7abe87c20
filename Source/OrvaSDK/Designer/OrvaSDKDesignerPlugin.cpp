#include "OrvaSDKDesignerPlugin.h"

#include "OrvaHotPatcher.h"
#include "OrvaLevelChooser.h"

#include <QIcon>

FOrvaDesignerWidget::FOrvaDesignerWidget(const QString& InClassName, const QString& InIncludeFile,
                                         const QString& InToolTip, const QSize& InDefaultSize, FFactory InFactory,
                                         QObject* Parent)
    : QObject(Parent)
    , ClassName(InClassName)
    , IncludeFile(InIncludeFile)
    , ToolTip(InToolTip)
    , DefaultSize(InDefaultSize)
    , Factory(std::move(InFactory))
{
}

QString FOrvaDesignerWidget::group() const
{
	return QStringLiteral("OrvaSDK");
}

QIcon FOrvaDesignerWidget::icon() const
{
	return QIcon();
}

QWidget* FOrvaDesignerWidget::createWidget(QWidget* Parent)
{
	return Factory(Parent);
}

void FOrvaDesignerWidget::initialize(QDesignerFormEditorInterface*)
{
	bInitialized = true;
}

QString FOrvaDesignerWidget::domXml() const
{
	const QString Object = ClassName.mid(1, 1).toLower() + ClassName.mid(2);
	return QStringLiteral("<ui language=\"c++\">\n"
	                      " <widget class=\"%1\" name=\"%2\">\n"
	                      "  <property name=\"geometry\">\n"
	                      "   <rect><x>0</x><y>0</y><width>%3</width><height>%4</height></rect>\n"
	                      "  </property>\n"
	                      " </widget>\n"
	                      "</ui>\n")
	    .arg(ClassName, Object)
	    .arg(DefaultSize.width())
	    .arg(DefaultSize.height());
}

FOrvaSDKDesignerPlugin::FOrvaSDKDesignerPlugin(QObject* Parent)
    : QObject(Parent)
{
	Widgets.append(new FOrvaDesignerWidget(
	    QStringLiteral("UOrvaHotPatcher"), QStringLiteral("OrvaHotPatcher.h"),
	    QStringLiteral("The packaging tool's panel: settings, builds and their missions"), QSize(720, 560),
	    [](QWidget* Parent) { return new UOrvaHotPatcher(Parent); }, this));
	Widgets.append(new FOrvaDesignerWidget(
	    QStringLiteral("UOrvaLevelChooser"), QStringLiteral("OrvaLevelChooser.h"),
	    QStringLiteral("Picks the entry level among the project's levels"), QSize(320, 32),
	    [](QWidget* Parent) { return new UOrvaLevelChooser(Parent); }, this));
}
