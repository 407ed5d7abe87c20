#pragma once

#include <QWidget>

class FEditorHost;
class QLabel;
class QPushButton;

// The panel shown while the creator is logged in. For now it offers the way back: "Back" logs out,
// and the root view brings a fresh login box.
class SOrvaEditorWorldView : public QWidget
{
	Q_OBJECT

public:
	explicit SOrvaEditorWorldView(FEditorHost* InHost, QWidget* Parent = nullptr);
	~SOrvaEditorWorldView() override;

	QSize sizeHint() const override { return QSize(800, 1080); }

	void OnBackClicked();
	QPushButton* GetBackButton() const { return BackButton; }

private:
	void UpdateAccountText();

	FEditorHost* Host;
	QPushButton* BackButton = nullptr;
	QLabel* AccountText = nullptr;
};
