#pragma once

#include <QStringList>

// The editor host without windows. Usage:
//   OrvaEditorCmd PROJECT.uproject                      start, print the plugin's state, exit
//   OrvaEditorCmd PROJECT.uproject -run=NAME [ARGS...]  run a commandlet
//   OrvaEditorCmd -run=PakInfo -pak=FILE                 list and verify a pak
//   OrvaEditorCmd PROJECT.uproject -run=HotPatcher -config=FILE
//                                                       build the paks of a settings file
//   OrvaEditorCmd PROJECT.uproject -run=OrvaSDK -script=FILE
//                                                       run an automation script (OrvaScriptRunner.h)
// Exit status: 0 done, 1 the commandlet failed (the reason is the last line on stderr), 2 usage.
int RunOrvaEditorCmd(const QStringList& Arguments);
