#include "Commands.h"

FUICommandInfo::FUICommandInfo(const QString& InContextName, const QString& InCommandName, const FText& InLabel,
                               const FText& InDescription, const FSlateIcon& InIcon, EUserInterfaceActionType InType)
    : ContextName(InContextName)
    , CommandName(InCommandName)
    , Label(InLabel)
    , Description(InDescription)
    , Icon(InIcon)
    , Type(InType)
{
}

FBindingContext::FBindingContext(const QString& InContextName, const FText& InContextDesc,
                                 const QString& InParentContextName, const QString& InStyleSetName)
    : ContextName(InContextName)
    , ContextDesc(InContextDesc)
    , ParentContextName(InParentContextName)
    , StyleSetName(InStyleSetName)
{
}

bool FInputBindingManager::RegisterContext(const FBindingContext& Context)
{
	if (GetContextByName(Context.GetContextName()))
	{
		return false;
	}
	Contexts.append(&Context);
	return true;
}

void FInputBindingManager::UnregisterContext(const QString& ContextName)
{
	for (int Index = 0; Index < Contexts.size(); ++Index)
	{
		if (Contexts[Index]->GetContextName() == ContextName)
		{
			Contexts.removeAt(Index);
			break;
		}
	}
	Commands.remove(ContextName);
}

void FInputBindingManager::AddCommand(const FUICommandInfoPtr& Command)
{
	QList<FUICommandInfoPtr>& List = Commands[Command->GetBindingContext()];
	for (FUICommandInfoPtr& Existing : List)
	{
		if (Existing->GetCommandName() == Command->GetCommandName())
		{
			Existing = Command;
			return;
		}
	}
	List.append(Command);
}

const FBindingContext* FInputBindingManager::GetContextByName(const QString& ContextName) const
{
	for (const FBindingContext* Context : Contexts)
	{
		if (Context->GetContextName() == ContextName)
		{
			return Context;
		}
	}
	return nullptr;
}

QStringList FInputBindingManager::GetContextNames() const
{
	QStringList Names;
	for (const FBindingContext* Context : Contexts)
	{
		Names.append(Context->GetContextName());
	}
	return Names;
}

QList<FUICommandInfoPtr> FInputBindingManager::GetCommandInfosFromContext(const QString& ContextName) const
{
	return Commands.value(ContextName);
}

FUICommandInfoPtr FInputBindingManager::FindCommandInContext(const QString& ContextName,
                                                             const QString& CommandName) const
{
	for (const FUICommandInfoPtr& Command : Commands.value(ContextName))
	{
		if (Command->GetCommandName() == CommandName)
		{
			return Command;
		}
	}
	return nullptr;
}

void FUICommandList::MapAction(const FUICommandInfoPtr& Command, FExecuteAction Execute, FCanExecuteAction CanExecute)
{
	if (Command)
	{
		Actions.insert(Command.get(), FUIAction{Command, std::move(Execute), std::move(CanExecute)});
	}
}

void FUICommandList::UnmapAction(const FUICommandInfoPtr& Command)
{
	Actions.remove(Command.get());
}

bool FUICommandList::IsActionMapped(const FUICommandInfoPtr& Command) const
{
	return Command && Actions.contains(Command.get());
}

bool FUICommandList::CanExecuteAction(const FUICommandInfoPtr& Command) const
{
	const auto Found = Command ? Actions.constFind(Command.get()) : Actions.constEnd();
	if (Found == Actions.constEnd())
	{
		return false;
	}
	return !Found->CanExecute || Found->CanExecute();
}

bool FUICommandList::ExecuteAction(const FUICommandInfoPtr& Command) const
{
	if (!CanExecuteAction(Command))
	{
		return false;
	}
	// A copy: the action may unmap itself or replace the list's entries.
	const FExecuteAction Execute = Actions.value(Command.get()).Execute;
	if (Execute)
	{
		Execute();
	}
	return true;
}
