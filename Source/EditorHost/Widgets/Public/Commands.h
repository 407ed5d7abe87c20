#pragma once

#include "SlateStyle.h"
#include "Text.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

enum class EUserInterfaceActionType
{
	None,
	Button,
	ToggleButton,
	RadioButton,
	Check
};

// One user command: what menus and toolbars show for it. What it does is bound per command list.
class FUICommandInfo
{
public:
	FUICommandInfo(const QString& InContextName, const QString& InCommandName, const FText& InLabel,
	               const FText& InDescription, const FSlateIcon& InIcon, EUserInterfaceActionType InType);

	const QString& GetBindingContext() const { return ContextName; }
	const QString& GetCommandName() const { return CommandName; }
	const FText& GetLabel() const { return Label; }
	const FText& GetDescription() const { return Description; }
	const FSlateIcon& GetIcon() const { return Icon; }
	EUserInterfaceActionType GetUserInterfaceType() const { return Type; }

private:
	QString ContextName;
	QString CommandName;
	FText Label;
	FText Description;
	FSlateIcon Icon;
	EUserInterfaceActionType Type;
};

using FUICommandInfoPtr = std::shared_ptr<const FUICommandInfo>;

// A binding context: a named group of commands, whose icons come from one style set.
class FBindingContext
{
public:
	FBindingContext(const QString& InContextName, const FText& InContextDesc, const QString& InParentContextName,
	                const QString& InStyleSetName);
	virtual ~FBindingContext() = default;

	const QString& GetContextName() const { return ContextName; }
	const FText& GetContextDesc() const { return ContextDesc; }
	const QString& GetContextParent() const { return ParentContextName; }
	const QString& GetStyleSetName() const { return StyleSetName; }

private:
	QString ContextName;
	FText ContextDesc;
	QString ParentContextName;
	QString StyleSetName;
};

// The editor's list of registered commands, by binding context.
class FInputBindingManager
{
public:
	// False when a context of that name is registered already.
	bool RegisterContext(const FBindingContext& Context);
	void UnregisterContext(const QString& ContextName);
	void AddCommand(const FUICommandInfoPtr& Command);

	const FBindingContext* GetContextByName(const QString& ContextName) const;
	QStringList GetContextNames() const;
	QList<FUICommandInfoPtr> GetCommandInfosFromContext(const QString& ContextName) const;
	FUICommandInfoPtr FindCommandInContext(const QString& ContextName, const QString& CommandName) const;

private:
	QList<const FBindingContext*> Contexts;
	QHash<QString, QList<FUICommandInfoPtr>> Commands;
};

// A command set with one instance at a time: Register creates it and adds its commands to the
// editor's list, Unregister takes them out again and releases it.
template <class T>
class TCommands : public FBindingContext
{
public:
	using FBindingContext::FBindingContext;

	static void Register(FInputBindingManager& Manager)
	{
		if (Instance)
		{
			return;
		}
		auto NewInstance = std::make_shared<T>();
		if (!Manager.RegisterContext(*NewInstance))
		{
			return;
		}
		Instance = NewInstance;
		Owner = &Manager;
		Instance->RegisterCommands();
	}

	static void Unregister()
	{
		if (Instance && Owner)
		{
			Owner->UnregisterContext(Instance->GetContextName());
		}
		Instance.reset();
		Owner = nullptr;
	}

	static bool IsRegistered() { return Instance != nullptr; }
	// Only between Register and Unregister.
	static const T& Get()
	{
		Q_ASSERT(Instance);
		return *Instance;
	}

	virtual void RegisterCommands() = 0;

protected:
	// The command's icon is the brush named context + "." + command name of the context's style set.
	FUICommandInfoPtr MakeCommand(const QString& CommandName, const FText& Label, const FText& Description,
	                              EUserInterfaceActionType Type)
	{
		auto Command = std::make_shared<const FUICommandInfo>(
		    GetContextName(), CommandName, Label, Description,
		    FSlateIcon{GetStyleSetName(), GetContextName() + QLatin1Char('.') + CommandName}, Type);
		Owner->AddCommand(Command);
		return Command;
	}

private:
	static inline std::shared_ptr<T> Instance;
	static inline FInputBindingManager* Owner = nullptr;
};

// UI_COMMAND(PluginAction, "Label", "Tooltip", EUserInterfaceActionType::Button, FInputChord()) inside
// RegisterCommands, with LOCTEXT_NAMESPACE defined: the label's key is the command's name, the
// tooltip's is the name followed by "_ToolTip".
struct FInputChord
{
};
#define UI_COMMAND(CommandId, Label, Tooltip, Type, Chord)                                                             \
	CommandId = MakeCommand(QStringLiteral(#CommandId), LOCTEXT(#CommandId, Label),                                    \
	                        LOCTEXT(#CommandId "_ToolTip", Tooltip), Type)

// What each command does here: a list maps commands to actions.
using FExecuteAction = std::function<void()>;
using FCanExecuteAction = std::function<bool()>;

class FUICommandList
{
public:
	void MapAction(const FUICommandInfoPtr& Command, FExecuteAction Execute, FCanExecuteAction CanExecute = {});
	void UnmapAction(const FUICommandInfoPtr& Command);
	bool IsActionMapped(const FUICommandInfoPtr& Command) const;
	bool CanExecuteAction(const FUICommandInfoPtr& Command) const;
	// Runs the mapped action when it may run; false when nothing ran.
	bool ExecuteAction(const FUICommandInfoPtr& Command) const;

private:
	struct FUIAction
	{
		// Held so that the key cannot be reused by another command while it is mapped.
		FUICommandInfoPtr Command;
		FExecuteAction Execute;
		FCanExecuteAction CanExecute;
	};
	QHash<const FUICommandInfo*, FUIAction> Actions;
};
