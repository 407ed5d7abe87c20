#pragma once

#include <QString>

class FPaths;

// Project lookups of the packaging tool. They take the host's paths: a project is whatever the
// host opened, there is no process-wide one.
class UFlibPatchParserHelper
{
public:
	// The absolute path of the project's .uproject file.
	static QString GetProjectFilePath(const FPaths& Paths);
};
