#pragma once

#include "IImageReceiver.h"

#include <QMargins>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class FEditorHost;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;
class QVariantAnimation;
class UTexture;

// A throbber image turned about its centre by the tile's spin curve.
class SOrvaSpinningImage : public QWidget
{
	Q_OBJECT

public:
	explicit SOrvaSpinningImage(const QPixmap& InImage, QWidget* Parent = nullptr);

	// The turn in radians.
	void SetAngle(double InRadians);
	double GetAngle() const { return Radians; }
	QSize sizeHint() const override { return Image.size(); }

protected:
	void paintEvent(QPaintEvent* Event) override;

private:
	QPixmap Image;
	double Radians = 0.0;
};

// The brush a tile draws its picture with: the texture is its resource object.
struct FOrvaThumbnailBrush
{
	QPointer<UTexture> ResourceObject;
};

// A picture tile of the world panel: a world's title image in the world strip (deletable) or a
// screenshot in the screenshot grid. It shows a turning throbber until the image cache hands it its
// picture, marks screenshots that are still only local (not yet uploaded), and, when deletable,
// shows a small menu in its top-right corner while hovered, whose "Delete" reports the tile's id.
//
// The image cache holds receivers weakly: the tile hands out a receiver pointer that it owns and
// drops when it is destroyed, so a download that ends after the tile is gone calls nobody.
class SOrvaThumbnail : public QWidget, public IImageReceiver
{
	Q_OBJECT

public:
	struct FArguments
	{
		QString ImageName;
		QString ThumbnailId;
		QSizeF ThumbnailSize = QSizeF(250.0, 250.0);
		QMargins ThumbnailPadding = QMargins(5, 5, 5, 5);
		bool bCanDelete = false;
		std::function<void(const QString&)> OnDelete;
	};

	// Host: whose data cache tells whether the image still waits for its upload; may be null.
	SOrvaThumbnail(FEditorHost* InHost, FArguments InArgs, QWidget* Parent = nullptr);
	~SOrvaThumbnail() override;

	// What to hand to the image cache's GetImage.
	std::shared_ptr<IImageReceiver> AsReceiver() const { return Receiver; }

	void OnLocalImageLoaded(UTexture2D* Texture) override;
	void OnRemoteImageLoaded(UTexture2DDynamic* Texture) override;
	QString GetImageUrl() override { return ImageName; }

	const QString& GetThumbnailId() const { return ThumbnailId; }
	QSizeF GetThumbnailSize() const { return ThumbnailSize; }
	QMargins GetThumbnailPadding() const { return ThumbnailPadding; }
	bool CanDelete() const { return bCanDelete; }
	const FOrvaThumbnailBrush& GetImageBrush() const { return ImageBrush; }
	// How many times a texture was made the brush's resource.
	int GetBrushChanges() const { return BrushChanges; }

	QLabel* GetThumbnailImage() const { return ThumbnailImage; }
	SOrvaSpinningImage* GetLoadingThrobber() const { return LoadingThrobber; }
	SOrvaSpinningImage* GetPendingThrobber() const { return PendingThrobber; }
	QToolButton* GetDeleteCombo() const { return DeleteCombo; }
	QMenu* GetDeleteMenu() const { return DeleteMenu; }
	bool IsMenuOpen() const { return bMenuOpen; }
	// The spin curve's progress, 0 to 1 over one second.
	double GetSpinProgress() const;
	// Whether the spin curve plays: from construction while shown, until a downloaded picture came.
	bool IsSpinning() const;

	// A local screenshot the service has not yet given an id.
	bool IsPendingUpload() const;
	// Evaluates the bound visibilities (the animation does so every frame).
	void UpdateBoundState();

	// A line of text over the tile's foot (a world's name); empty hides it.
	void SetCaption(const QString& Text);
	QLabel* GetCaption() const { return Caption; }
	// A small mark in the top-left corner (a world's privacy); empty hides it.
	void SetBadge(const QString& Text);
	QLabel* GetBadge() const { return Badge; }
	// The picture will not come (a refused upload, a failed download): the throbbers stop and the
	// tile says so, with Reason as its tooltip.
	void SetFailed(const QString& Reason);
	bool IsFailed() const { return bFailed; }
	QLabel* GetFailedMark() const { return FailedMark; }

	QSize sizeHint() const override;

protected:
	void enterEvent(QEnterEvent* Event) override;
	void leaveEvent(QEvent* Event) override;
	void showEvent(QShowEvent* Event) override;
	void hideEvent(QHideEvent* Event) override;

private:
	void SetBrushTexture(UTexture* Texture);
	void ShowPicture();
	void BuildDeleteMenu();
	void HandleDelete();

	FEditorHost* Host;
	QString ImageName;
	QString ThumbnailId;
	QSizeF ThumbnailSize;
	QMargins ThumbnailPadding;
	bool bCanDelete;
	std::function<void(const QString&)> OnDelete;

	QFrame* Frame = nullptr;
	SOrvaSpinningImage* LoadingThrobber = nullptr;
	QLabel* ThumbnailImage = nullptr;
	SOrvaSpinningImage* PendingThrobber = nullptr;
	QToolButton* DeleteCombo = nullptr;
	QMenu* DeleteMenu = nullptr;
	QLabel* Caption = nullptr;
	QLabel* Badge = nullptr;
	QLabel* FailedMark = nullptr;
	bool bFailed = false;
	FOrvaThumbnailBrush ImageBrush;
	QVariantAnimation* SpinCurve = nullptr;
	bool bMenuOpen = false;
	bool bHovered = false;
	// Set by a downloaded picture: the pending mark stays hidden from then on.
	bool bPendingDismissed = false;
	int BrushChanges = 0;
	std::shared_ptr<IImageReceiver> Receiver;
};
