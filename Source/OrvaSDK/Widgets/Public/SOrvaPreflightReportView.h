#pragma once

#include "OrvaSDKPreflight.h"

#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;

// Shows a pre-flight report: a headline (how many errors, warnings and notes, or why a build was
// refused), the figures (packages, size, estimated paks against the upload limit), and one row per
// finding with its level's icon, its subject, what is wrong and what to do. Errors come first.
class SOrvaPreflightReportView : public QWidget
{
	Q_OBJECT

public:
	explicit SOrvaPreflightReportView(QWidget* Parent = nullptr);

	// Shows Report; Headline, when not empty, replaces the counted headline (a refused build says so).
	void SetReport(const FOrvaPreflightReport& Report, const QString& Headline = QString());
	const FOrvaPreflightReport& GetReport() const { return Report; }
	QString GetHeadline() const;
	// The rows as shown, one widget per finding, in order.
	int GetRowCount() const;

	// A level's icon, drawn in the style's colours.
	static QPixmap LevelIcon(EOrvaPreflightLevel Level, int Size, qreal DevicePixelRatio = 1.0);

Q_SIGNALS:
	// The close button of the headline.
	void OnClosed();

private:
	FOrvaPreflightReport Report;
	QLabel* HeadlineIcon = nullptr;
	QLabel* Headline = nullptr;
	QLabel* Figures = nullptr;
	QWidget* Rows = nullptr;
	QScrollArea* RowsScroll = nullptr;
	QVBoxLayout* RowsLayout = nullptr;
};
