#include "NativeWidgetHost.h"

#include "EditorHost.h"

#include <QEvent>
#include <QVBoxLayout>

namespace
{
// The property by which an editor window names its host to the designer widgets inside it.
constexpr const char* EditorHostProperty = "OrvaEditorHost";
} // namespace

UNativeWidgetHost::UNativeWidgetHost(QWidget* Parent)
    : QWidget(Parent)
    , Layout(new QVBoxLayout(this))
{
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->setSpacing(0);
}

UNativeWidgetHost::~UNativeWidgetHost()
{
	// The stored content may never have been shown, and so has no parent to delete it.
	if (StoredContent && !StoredContent->parent())
	{
		delete StoredContent.data();
	}
}

QWidget* UNativeWidgetHost::TakeWidget()
{
	if (!Content && !bBuilding)
	{
		// A rebuild that asks for the content (measuring itself, say) gets none rather than a loop.
		bBuilding = true;
		BuiltFor = GetEditorHost();
		QWidget* Built = RebuildWidget();
		bBuilding = false;
		if (Built)
		{
			Content = Built;
			Layout->addWidget(Built);
			Built->show();
			updateGeometry();
			Q_EMIT WidgetRebuilt(Built);
		}
	}
	return Content;
}

void UNativeWidgetHost::ReleaseSlateResources()
{
	if (Content)
	{
		QWidget* Old = Content;
		Content = nullptr;
		Layout->removeWidget(Old);
		if (Old == StoredContent)
		{
			// The stored content is built again from the same widget: keep it, hidden.
			Old->hide();
			Old->setParent(nullptr);
		}
		else
		{
			Old->deleteLater();
			Old->hide();
		}
	}
}

QWidget* UNativeWidgetHost::RebuildNow()
{
	ReleaseSlateResources();
	return TakeWidget();
}

void UNativeWidgetHost::SetContent(QWidget* InContent)
{
	if (StoredContent == InContent)
	{
		return;
	}
	const bool bShowsStored = Content && Content == StoredContent;
	if (bShowsStored)
	{
		ReleaseSlateResources();
	}
	if (StoredContent && !StoredContent->parent())
	{
		delete StoredContent.data();
	}
	StoredContent = InContent;
	if (InContent && !InContent->parent())
	{
		InContent->hide();
	}
	if (bShowsStored || isVisible())
	{
		RebuildNow();
	}
}

QWidget* UNativeWidgetHost::RebuildWidget()
{
	return StoredContent ? StoredContent.data() : new QWidget();
}

FEditorHost* UNativeWidgetHost::GetEditorHost() const
{
	if (Host)
	{
		return Host;
	}
	for (const QWidget* Widget = parentWidget(); Widget; Widget = Widget->parentWidget())
	{
		const QVariant Named = Widget->property(EditorHostProperty);
		if (Named.isValid())
		{
			return qobject_cast<FEditorHost*>(Named.value<QObject*>());
		}
	}
	return nullptr;
}

void UNativeWidgetHost::SetEditorHost(FEditorHost* InHost)
{
	Host = InHost;
}

void UNativeWidgetHost::SetEditorHostOf(QWidget* Widget, FEditorHost* InHost)
{
	if (Widget)
	{
		Widget->setProperty(EditorHostProperty, QVariant::fromValue<QObject*>(InHost));
	}
}

QSize UNativeWidgetHost::sizeHint() const
{
	return Content ? Content->sizeHint() : QSize(160, 24);
}

QSize UNativeWidgetHost::minimumSizeHint() const
{
	return Content ? Content->minimumSizeHint() : QSize(0, 0);
}

bool UNativeWidgetHost::event(QEvent* Event)
{
	if (Event->type() == QEvent::Show)
	{
		// Built when first shown, when it sits where it will be used. Content built for another
		// editor (or none, before the widget was placed in an editor's window) is built again.
		if (Content && BuiltFor != GetEditorHost())
		{
			ReleaseSlateResources();
		}
		TakeWidget();
	}
	return QWidget::event(Event);
}
