#pragma once

#include "SOrvaEditorLoginBox.h"
#include "SOrvaEditorWorldView.h"

#include <QPointer>
#include <QWidget>

class FEditorHost;
class QVBoxLayout;

// The root view of the plugin's tab: the login box while the creator is logged out, the world
// panel once the SDK subsystem reports a login.
class SOrvaEditorView : public QWidget
{
	Q_OBJECT

public:
	// Host is the editor whose subsystems the view reaches; the tab only builds the view when the
	// SDK subsystem exists.
	explicit SOrvaEditorView(FEditorHost* InHost, QWidget* Parent = nullptr);
	~SOrvaEditorView() override;

	void HandleLoginStateChanged(bool bLoggedIn);

	// The shown child.
	QWidget* GetChild() const { return Child; }
	SOrvaEditorLoginBox* GetLoginBox() const { return LoginBox; }
	SOrvaEditorWorldView* GetWorldView() const { return WorldView; }

private:
	void SetChild(QWidget* NewChild);

	FEditorHost* Host;
	QVBoxLayout* Layout;
	QPointer<QWidget> Child;
	QPointer<SOrvaEditorLoginBox> LoginBox;
	// Kept after a logout detaches it, until the next login replaces it.
	QPointer<SOrvaEditorWorldView> WorldView;
};
