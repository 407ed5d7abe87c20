#include "ToolMenus.h"

#include "SlateStyle.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>

FToolMenuEntry FToolMenuEntry::InitMenuEntry(const FUICommandInfoPtr& InCommand)
{
	FToolMenuEntry Entry;
	Entry.Name = InCommand ? InCommand->GetCommandName() : QString();
	Entry.Type = EMultiBlockType::MenuEntry;
	Entry.Command = InCommand;
	return Entry;
}

FToolMenuEntry FToolMenuEntry::InitToolBarButton(const FUICommandInfoPtr& InCommand)
{
	FToolMenuEntry Entry = InitMenuEntry(InCommand);
	Entry.Type = EMultiBlockType::ToolBarButton;
	return Entry;
}

FToolMenuEntry& FToolMenuSection::AddEntry(const FToolMenuEntry& Entry)
{
	FToolMenuEntry& Added = Entries.emplace_back(Entry);
	Added.Owner = Registry.GetCurrentOwner();
	Registry.NotifyChanged(MenuName);
	return Added;
}

FToolMenuEntry& FToolMenuSection::AddMenuEntryWithCommandList(const FUICommandInfoPtr& Command,
                                                              const std::shared_ptr<FUICommandList>& CommandList)
{
	FToolMenuEntry Entry = FToolMenuEntry::InitMenuEntry(Command);
	Entry.CommandList = CommandList;
	return AddEntry(Entry);
}

FToolMenuSection& UToolMenu::FindOrAddSection(const QString& SectionName)
{
	if (FToolMenuSection* Found = FindSection(SectionName))
	{
		return *Found;
	}
	Sections.push_back(std::make_unique<FToolMenuSection>(Registry, MenuName, SectionName));
	return *Sections.back();
}

FToolMenuSection* UToolMenu::FindSection(const QString& SectionName) const
{
	for (const auto& Section : Sections)
	{
		if (Section->GetName() == SectionName)
		{
			return Section.get();
		}
	}
	return nullptr;
}

QList<const FToolMenuSection*> UToolMenu::GetSections() const
{
	QList<const FToolMenuSection*> Result;
	for (const auto& Section : Sections)
	{
		Result.append(Section.get());
	}
	return Result;
}

FToolMenus::FToolMenus(const FSlateStyleRegistry* InStyles, QObject* Parent)
    : QObject(Parent)
    , Styles(InStyles)
{
}

FToolMenus::~FToolMenus() = default;

UToolMenu* FToolMenus::ExtendMenu(const QString& MenuName)
{
	if (UToolMenu* Found = FindMenu(MenuName))
	{
		return Found;
	}
	Menus.push_back(std::make_unique<UToolMenu>(*this, MenuName));
	return Menus.back().get();
}

UToolMenu* FToolMenus::FindMenu(const QString& MenuName) const
{
	for (const auto& Menu : Menus)
	{
		if (Menu->GetMenuName() == MenuName)
		{
			return Menu.get();
		}
	}
	return nullptr;
}

int FToolMenus::RegisterStartupCallback(std::function<void()> Callback, FToolMenuOwner Owner)
{
	const int Handle = NextHandle++;
	if (bReady)
	{
		Callback();
		return Handle;
	}
	Startup.push_back(FStartupCallback{Handle, Owner, std::move(Callback)});
	return Handle;
}

void FToolMenus::UnRegisterStartupCallback(int Handle)
{
	std::erase_if(Startup, [Handle](const FStartupCallback& Entry) { return Entry.Handle == Handle; });
}

void FToolMenus::UnRegisterStartupCallback(FToolMenuOwner Owner)
{
	std::erase_if(Startup, [Owner](const FStartupCallback& Entry) { return Entry.Owner == Owner; });
}

void FToolMenus::SetReady()
{
	bReady = true;
	// A callback may register or unregister others: take them out one at a time.
	while (!Startup.empty())
	{
		FStartupCallback Next = std::move(Startup.front());
		Startup.erase(Startup.begin());
		Next.Callback();
	}
}

void FToolMenus::UnregisterOwner(FToolMenuOwner Owner)
{
	if (!Owner)
	{
		return;
	}
	for (const auto& Menu : Menus)
	{
		bool bChanged = false;
		for (const auto& Section : Menu->Sections)
		{
			bChanged |=
			    Section->Entries.removeIf([Owner](const FToolMenuEntry& Entry) { return Entry.Owner == Owner; }) > 0;
		}
		if (bChanged)
		{
			NotifyChanged(Menu->GetMenuName());
		}
	}
}

void FToolMenus::NotifyChanged(const QString& MenuName)
{
	Q_EMIT MenuChanged(MenuName);
}

QList<QAction*> FToolMenus::MakeActions(const QString& MenuName, QObject* Parent) const
{
	QList<QAction*> Actions;
	const UToolMenu* Menu = FindMenu(MenuName);
	if (!Menu)
	{
		return Actions;
	}
	for (const auto& Section : Menu->Sections)
	{
		if (Section->Entries.isEmpty())
		{
			continue;
		}
		if (!Actions.isEmpty())
		{
			auto* Separator = new QAction(Parent);
			Separator->setSeparator(true);
			Actions.append(Separator);
		}
		for (const FToolMenuEntry& Entry : Section->Entries)
		{
			if (!Entry.Command)
			{
				continue;
			}
			auto* Action = new QAction(Entry.Command->GetLabel().ToString(), Parent);
			Action->setObjectName(Entry.Name);
			Action->setToolTip(Entry.Command->GetDescription().ToString());
			Action->setStatusTip(Entry.Command->GetDescription().ToString());
			if (Styles)
			{
				Action->setIcon(Entry.Command->GetIcon().GetIcon(*Styles));
			}
			// Weak: an action left in a menu after its module went must not keep the list alive.
			const std::weak_ptr<FUICommandList> List = Entry.CommandList;
			const FUICommandInfoPtr Command = Entry.Command;
			Action->setEnabled(Entry.CommandList && Entry.CommandList->CanExecuteAction(Command));
			QObject::connect(Action, &QAction::triggered, Action,
			                 [List, Command]
			                 {
				                 if (const auto Locked = List.lock())
				                 {
					                 Locked->ExecuteAction(Command);
				                 }
			                 });
			Actions.append(Action);
		}
	}
	return Actions;
}

void FToolMenus::PopulateMenu(const QString& MenuName, QMenu* Menu) const
{
	const QList<QAction*> Actions = MakeActions(MenuName, Menu);
	if (!Actions.isEmpty() && !Menu->actions().isEmpty())
	{
		Menu->addSeparator();
	}
	Menu->addActions(Actions);
}

void FToolMenus::PopulateToolBar(const QString& MenuName, QToolBar* ToolBar) const
{
	ToolBar->addActions(MakeActions(MenuName, ToolBar));
}
