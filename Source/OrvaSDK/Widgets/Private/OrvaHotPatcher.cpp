#include "OrvaHotPatcher.h"

#include "SHotPatcher.h"

UOrvaHotPatcher::UOrvaHotPatcher(QWidget* Parent)
    : UNativeWidgetHost(Parent)
{
}

QWidget* UOrvaHotPatcher::RebuildWidget()
{
	return new SHotPatcher(GetEditorHost());
}
