#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

class QToolButton;
class QVBoxLayout;

// A titled area whose body folds away when its title is clicked; open at first.
class SExpandableArea : public QWidget
{
	Q_OBJECT

public:
	explicit SExpandableArea(const QString& InTitle, QWidget* Parent = nullptr);
	~SExpandableArea() override;

	void SetTitle(const QString& InTitle);
	QString GetTitle() const;
	void SetTitleFont(const QFont& Font);
	// The area takes ownership of Content; a second call replaces (and deletes) the first.
	void SetBodyContent(QWidget* Content);
	QWidget* GetBodyContent() const { return Content; }
	void SetExpanded(bool bInExpanded);
	bool IsExpanded() const { return bExpanded; }
	QToolButton* GetTitleButton() const { return TitleButton; }

Q_SIGNALS:
	void AreaExpansionChanged(bool bExpanded);

private:
	QToolButton* TitleButton;
	QWidget* Body;
	QVBoxLayout* BodyLayout;
	QWidget* Content = nullptr;
	bool bExpanded = true;
};
