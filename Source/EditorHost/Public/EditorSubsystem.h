#pragma once

#include <QObject>

class FEditorHost;
class FSubsystemCollection;

// Base of the editor subsystems: one instance each per host, created at host start in the order
// they were registered and deinitialised in reverse at shutdown. Subsystems reach the host's
// services (paths, config, HTTP, dialogs, assets) and each other through GetHost().
class UEditorSubsystem : public QObject
{
	Q_OBJECT

public:
	explicit UEditorSubsystem(QObject* Parent = nullptr);
	~UEditorSubsystem() override;

	virtual void Initialize(FSubsystemCollection& Collection);
	virtual void Deinitialize();

	FEditorHost* GetHost() const { return Host; }

private:
	friend class FEditorHost;
	FEditorHost* Host = nullptr;
};

class FSubsystemCollection
{
public:
	explicit FSubsystemCollection(FEditorHost& InHost)
	    : Host(InHost)
	{
	}
	FEditorHost& GetHost() const { return Host; }

private:
	FEditorHost& Host;
};
