#pragma once

#include "Commands.h"

// The plugin's commands, context "OrvaSDK".
class FOrvaSDKCommands : public TCommands<FOrvaSDKCommands>
{
public:
	FOrvaSDKCommands();

	void RegisterCommands() override;

	// Opens the plugin's tab.
	FUICommandInfoPtr PluginAction;
	// Listed among the editor's commands, never mapped to an action.
	FUICommandInfoPtr TestAction;
};
