#include "OrvaSDKModule.h"

#include "EditorHost.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaPakUploadSubsystem.h"
#include "OrvaSDKSubsystem.h"

void RegisterOrvaSDKSubsystems(FEditorHost& Host)
{
	Host.RegisterSubsystem<UOrvaSDKSubsystem>();
	Host.RegisterSubsystem<UOrvaDataCacheSubsystem>();
	Host.RegisterSubsystem<UOrvaPakUploadSubsystem>();
}
