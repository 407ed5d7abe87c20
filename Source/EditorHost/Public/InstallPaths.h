#pragma once

#include <QString>

// Where the programs find what ships with them. Installed, the programs share the prefix's bin
// folder and their files lie in its data folder (share/orvasdk); the build stages the same layout
// in the build folder, so a program finds its files the same way from either place, and no
// source-tree path is compiled into it.
namespace FInstallPaths
{
// The data folder (its Resources hold the icons, the translations and the engine content), or
// empty when the running program has none beside it.
QString DataDir();
// Another of the programs by its name: beside the running one when installed, in its own folder
// of the build tree otherwise. Empty when it is in neither place.
QString ProgramPath(const QString& Name);
} // namespace FInstallPaths
