#pragma once

#include "SlateStyle.h"

#include <QString>

#include <memory>

class FPluginManager;

// The plugin's style set "OrvaSDKStyle": its icons, drawn from the plugin's Resources folder.
// One instance at a time, from Initialize to Shutdown.
class FOrvaSDKStyle
{
public:
	// Creates the set and registers it, unless it exists already.
	static void Initialize(FSlateStyleRegistry& Registry, const FPluginManager& Plugins);
	// Unregisters the set and releases it; an instance someone else still holds is reported.
	static void Shutdown();
	// Has the icons read from disk again.
	static void ReloadTextures();
	// Only between Initialize and Shutdown.
	static const FSlateStyleSet& Get();
	static bool IsInitialized() { return StyleInstance != nullptr; }
	static QString GetStyleSetName();

private:
	static std::shared_ptr<FSlateStyleSet> Create(const FPluginManager& Plugins);

	static inline std::shared_ptr<FSlateStyleSet> StyleInstance;
	static inline FSlateStyleRegistry* Registry = nullptr;
};
