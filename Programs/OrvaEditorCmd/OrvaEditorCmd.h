#pragma once

#include <QStringList>

// The editor host without windows. Usage:
//   OrvaEditorCmd PROJECT.uproject                      start, print the plugin's state, exit
//   OrvaEditorCmd PROJECT.uproject -run=NAME [ARGS...]  run a commandlet
int RunOrvaEditorCmd(const QStringList& Arguments);
