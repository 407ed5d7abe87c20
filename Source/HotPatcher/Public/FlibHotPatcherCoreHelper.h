#pragma once

#include "ExportPatchSettings.h"

#include <QList>
#include <QString>

class UFlibHotPatcherCoreHelper
{
public:
	// The editor's command-line executable that runs the build commandlet: OrvaEditorCmd. The
	// ORVA_EDITOR_CMD environment variable when set, else what the host program said, else the
	// program's name for the PATH to resolve.
	static QString GetUECmdBinary();
	// The host program tells where its OrvaEditorCmd is; empty forgets it.
	static void SetUECmdBinary(const QString& Path);
	// The platforms' names joined by ",": "WindowsServer,WindowsClient".
	static QString GetPlatformsStr(const QList<ETargetPlatform>& Platforms);
};
