#pragma once

#include <QPointer>
#include <QWidget>

class FEditorHost;
class QVBoxLayout;

// A designer widget that shows a native widget of its own making: whatever RebuildWidget returns.
// The content is built when first needed (shown or asked for), again after ReleaseSlateResources,
// as the designer does after a change, and again when shown in another editor than the one it
// was built for; what the host itself holds (its fields and signal connections) survives every
// rebuild. Derived classes override RebuildWidget and nothing else.
class UNativeWidgetHost : public QWidget
{
	Q_OBJECT

public:
	explicit UNativeWidgetHost(QWidget* Parent = nullptr);
	~UNativeWidgetHost() override;

	// The content, built now if there is none.
	QWidget* TakeWidget();
	// The content built last; null before the first build and after a release.
	QWidget* GetCachedWidget() const { return Content; }
	// Drops the content; the next need builds a new one.
	void ReleaseSlateResources();
	// Drops the content and builds a new one at once.
	QWidget* RebuildNow();

	// The content RebuildWidget returns by default; the host takes ownership.
	void SetContent(QWidget* InContent);

	// The editor whose services the content uses: the one set here, else the editor host of the
	// nearest ancestor that names one (see SetEditorHostOf). Null outside an editor.
	FEditorHost* GetEditorHost() const;
	void SetEditorHost(FEditorHost* InHost);
	// Marks Widget (an editor window) as belonging to Host, for the designer widgets inside it.
	static void SetEditorHostOf(QWidget* Widget, FEditorHost* Host);

	QSize sizeHint() const override;
	QSize minimumSizeHint() const override;

Q_SIGNALS:
	// After each build, with the new content.
	void WidgetRebuilt(QWidget* NewContent);

protected:
	// Answers a new widget for the host to show; the host takes ownership. The default answers
	// the widget given to SetContent (or an empty widget). Null shows nothing.
	virtual QWidget* RebuildWidget();

	bool event(QEvent* Event) override;

private:
	QVBoxLayout* Layout = nullptr;
	QPointer<QWidget> Content;
	QPointer<QWidget> StoredContent;
	QPointer<FEditorHost> Host;
	// The editor the content was built for.
	QPointer<FEditorHost> BuiltFor;
	bool bBuilding = false;
};
