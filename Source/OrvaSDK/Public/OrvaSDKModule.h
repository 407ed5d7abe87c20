#pragma once

class FEditorHost;

// Registers the plugin's editor subsystems with a host, in the order the editor creates them.
void RegisterOrvaSDKSubsystems(FEditorHost& Host);
