#pragma once

#include "NativeWidgetHost.h"

// A designer widget that embeds the packaging tool's panel, SHotPatcher, in a form. Each build
// makes a new panel for the editor the widget sits in; outside an editor the panel can edit and
// save settings but not build.
class UOrvaHotPatcher : public UNativeWidgetHost
{
	Q_OBJECT

public:
	explicit UOrvaHotPatcher(QWidget* Parent = nullptr);

protected:
	QWidget* RebuildWidget() override;
};
