#pragma once

#include "Commands.h"
#include "Text.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class FSlateStyleRegistry;
class FToolMenus;
class QMenu;
class QToolBar;

// Who added an entry: everything one owner added can be removed at once.
using FToolMenuOwner = const void*;

enum class EMultiBlockType
{
	MenuEntry,
	ToolBarButton
};

// One entry of a menu or toolbar, made from a command; what it does comes from its command list.
struct FToolMenuEntry
{
	QString Name;
	EMultiBlockType Type = EMultiBlockType::MenuEntry;
	FUICommandInfoPtr Command;
	std::shared_ptr<FUICommandList> CommandList;
	FToolMenuOwner Owner = nullptr;

	static FToolMenuEntry InitMenuEntry(const FUICommandInfoPtr& InCommand);
	static FToolMenuEntry InitToolBarButton(const FUICommandInfoPtr& InCommand);
	void SetCommandList(const std::shared_ptr<FUICommandList>& InCommandList) { CommandList = InCommandList; }
};

class FToolMenuSection
{
public:
	FToolMenuSection(FToolMenus& InRegistry, const QString& InMenuName, const QString& InName)
	    : Registry(InRegistry)
	    , MenuName(InMenuName)
	    , Name(InName)
	{
	}

	const QString& GetName() const { return Name; }
	// The entry is owned by the owner in scope (see FToolMenuOwnerScoped). The reference stays valid
	// until the next change of this section.
	FToolMenuEntry& AddEntry(const FToolMenuEntry& Entry);
	FToolMenuEntry& AddMenuEntryWithCommandList(const FUICommandInfoPtr& Command,
	                                            const std::shared_ptr<FUICommandList>& CommandList);
	const QList<FToolMenuEntry>& GetEntries() const { return Entries; }

private:
	friend class FToolMenus;
	FToolMenus& Registry;
	QString MenuName;
	QString Name;
	QList<FToolMenuEntry> Entries;
};

class UToolMenu
{
public:
	UToolMenu(FToolMenus& InRegistry, const QString& InMenuName)
	    : Registry(InRegistry)
	    , MenuName(InMenuName)
	{
	}

	const QString& GetMenuName() const { return MenuName; }
	FToolMenuSection& FindOrAddSection(const QString& SectionName);
	FToolMenuSection* FindSection(const QString& SectionName) const;
	QList<const FToolMenuSection*> GetSections() const;

private:
	friend class FToolMenus;
	FToolMenus& Registry;
	QString MenuName;
	std::vector<std::unique_ptr<FToolMenuSection>> Sections;
};

// The editor's menus and toolbars by name ("LevelEditor.MainMenu.Window"). Modules add entries
// from their start-up callbacks, which run once the registry is ready; windows turn a menu into Qt
// actions and build it again when it changes.
class FToolMenus : public QObject
{
	Q_OBJECT

public:
	explicit FToolMenus(const FSlateStyleRegistry* InStyles = nullptr, QObject* Parent = nullptr);
	~FToolMenus() override;

	// Finds the menu, making it when it does not exist yet.
	UToolMenu* ExtendMenu(const QString& MenuName);
	UToolMenu* RegisterMenu(const QString& MenuName) { return ExtendMenu(MenuName); }
	UToolMenu* FindMenu(const QString& MenuName) const;

	// Called once the registry is ready, at once when it is ready already. Returns a handle.
	int RegisterStartupCallback(std::function<void()> Callback, FToolMenuOwner Owner = nullptr);
	void UnRegisterStartupCallback(int Handle);
	void UnRegisterStartupCallback(FToolMenuOwner Owner);
	int GetPendingStartupCallbackCount() const { return int(Startup.size()); }
	// Runs the start-up callbacks registered so far; later ones run as they are registered.
	void SetReady();
	bool IsReady() const { return bReady; }

	// Removes every entry the owner added.
	void UnregisterOwner(FToolMenuOwner Owner);
	FToolMenuOwner GetCurrentOwner() const { return OwnerStack.isEmpty() ? nullptr : OwnerStack.last(); }
	void PushOwner(FToolMenuOwner Owner) { OwnerStack.append(Owner); }
	void PopOwner() { OwnerStack.removeLast(); }

	// Appends the menu's entries as actions, a separator between sections; the actions belong to
	// Menu. An entry whose command list is gone or does not map its command is disabled.
	void PopulateMenu(const QString& MenuName, QMenu* Menu) const;
	void PopulateToolBar(const QString& MenuName, QToolBar* ToolBar) const;

	void NotifyChanged(const QString& MenuName);

Q_SIGNALS:
	void MenuChanged(const QString& MenuName);

private:
	struct FStartupCallback
	{
		int Handle;
		FToolMenuOwner Owner;
		std::function<void()> Callback;
	};

	QList<class QAction*> MakeActions(const QString& MenuName, QObject* Parent) const;

	const FSlateStyleRegistry* Styles;
	std::vector<std::unique_ptr<UToolMenu>> Menus;
	std::vector<FStartupCallback> Startup;
	QList<FToolMenuOwner> OwnerStack;
	int NextHandle = 1;
	bool bReady = false;
};

// Entries added while it lives belong to Owner.
class FToolMenuOwnerScoped
{
public:
	FToolMenuOwnerScoped(FToolMenuOwner Owner, FToolMenus& InMenus)
	    : Menus(InMenus)
	{
		Menus.PushOwner(Owner);
	}
	~FToolMenuOwnerScoped() { Menus.PopOwner(); }
	FToolMenuOwnerScoped(const FToolMenuOwnerScoped&) = delete;
	FToolMenuOwnerScoped& operator=(const FToolMenuOwnerScoped&) = delete;

private:
	FToolMenus& Menus;
};
