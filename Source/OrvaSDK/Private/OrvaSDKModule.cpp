#include "OrvaSDKModule.h"

#include "EditorHost.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"

void RegisterOrvaSDKSubsystems(FEditorHost& Host)
{
	Host.RegisterSubsystem<UOrvaSDKSubsystem>();
	Host.RegisterSubsystem<UOrvaDataCacheSubsystem>();
}
