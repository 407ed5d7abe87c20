#include "OrvaSDKCommands.h"

#include "OrvaSDKStyle.h"

#define LOCTEXT_NAMESPACE "FOrvaSDKModule"

FOrvaSDKCommands::FOrvaSDKCommands()
    : TCommands<FOrvaSDKCommands>(QStringLiteral("OrvaSDK"), NSLOCTEXT("Contexts", "OrvaSDK", "OrvaSDK Plugin"),
                                  QString(), FOrvaSDKStyle::GetStyleSetName())
{
}

void FOrvaSDKCommands::RegisterCommands()
{
	UI_COMMAND(PluginAction, "OrvaSDK", "Execute OrvaSDK action", EUserInterfaceActionType::Button, FInputChord());
	UI_COMMAND(TestAction, "OrvaSDK", "Connect Sandbox", EUserInterfaceActionType::Button, FInputChord());
}

#undef LOCTEXT_NAMESPACE
