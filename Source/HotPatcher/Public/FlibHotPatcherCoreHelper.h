#pragma once

#include "ExportPatchSettings.h"

#include <QList>
#include <QString>

class UFlibHotPatcherCoreHelper
{
public:
	// The editor's command-line executable that runs the build commandlet: OrvaEditorCmd. Found as
	// the ORVA_EDITOR_CMD environment variable, else beside the running program or in the build
	// tree's program folders, else the build location it was compiled for.
	static QString GetUECmdBinary();
	// The platforms' names joined by ",": "WindowsServer,WindowsClient".
	static QString GetPlatformsStr(const QList<ETargetPlatform>& Platforms);
};
