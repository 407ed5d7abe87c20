#pragma once

#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <functional>

// One of the plugin's designer widgets as Qt Designer sees it: its name, group, header and the
// form XML it is placed with.
class FOrvaDesignerWidget : public QObject, public QDesignerCustomWidgetInterface
{
	Q_OBJECT
	Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
	using FFactory = std::function<QWidget*(QWidget* Parent)>;

	FOrvaDesignerWidget(const QString& InClassName, const QString& InIncludeFile, const QString& InToolTip,
	                    const QSize& InDefaultSize, FFactory InFactory, QObject* Parent = nullptr);

	QString name() const override { return ClassName; }
	QString group() const override;
	QString toolTip() const override { return ToolTip; }
	QString whatsThis() const override { return ToolTip; }
	QString includeFile() const override { return IncludeFile; }
	QIcon icon() const override;
	bool isContainer() const override { return false; }
	QWidget* createWidget(QWidget* Parent) override;
	bool isInitialized() const override { return bInitialized; }
	void initialize(QDesignerFormEditorInterface* Core) override;
	QString domXml() const override;

private:
	QString ClassName;
	QString IncludeFile;
	QString ToolTip;
	QSize DefaultSize;
	FFactory Factory;
	bool bInitialized = false;
};

// The designer plugin: UOrvaHotPatcher and UOrvaLevelChooser, so that forms can place them.
class FOrvaSDKDesignerPlugin : public QObject, public QDesignerCustomWidgetCollectionInterface
{
	Q_OBJECT
	Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
	Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

public:
	explicit FOrvaSDKDesignerPlugin(QObject* Parent = nullptr);

	QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return Widgets; }

private:
	QList<QDesignerCustomWidgetInterface*> Widgets;
};
