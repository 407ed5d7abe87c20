#pragma once

#include <QStringList>

class FEditorHost;

// The packaging tool's commandlets, run by OrvaEditorCmd. Each answers an exit status (0 done,
// 1 failed, 2 usage) and, when it fails, the one line that says why in OutFailure.

// -run=PakInfo -pak=FILE: prints the mount point and each entry (size, SHA-1, path), checks both
// index hashes and every entry's hash. Needs no project.
int RunPakInfoCommandlet(const QStringList& Arguments, QString& OutFailure);

// -run=HotPatcher -config=FILE: builds one pak per target platform of the settings file, and the
// version file beside them. Host must be started.
int RunHotPatcherCommandlet(FEditorHost& Host, const QStringList& Arguments, QString& OutFailure);

// "-Name=Value" of an engine command line; the value loses one pair of surrounding quotes.
QString GetCommandLineSwitch(const QStringList& Arguments, const QString& Name);
