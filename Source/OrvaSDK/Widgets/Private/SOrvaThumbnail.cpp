#include "SOrvaThumbnail.h"

#include "AppStyle.h"
#include "EditorHost.h"
#include "Log.h"
#include "OrvaDataCacheSubsystem.h"
#include "Text.h"
#include "Texture.h"

#include <QAction>
#include <QEnterEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#define LOCTEXT_NAMESPACE "SOrvaThumbnail"

SOrvaSpinningImage::SOrvaSpinningImage(const QPixmap& InImage, QWidget* Parent)
    : QWidget(Parent)
    , Image(InImage)
{
	setAttribute(Qt::WA_TransparentForMouseEvents);
	setFixedSize(Image.size());
}

void SOrvaSpinningImage::SetAngle(double InRadians)
{
	Radians = InRadians;
	if (isVisible())
	{
		update();
	}
}

void SOrvaSpinningImage::paintEvent(QPaintEvent*)
{
	QPainter Painter(this);
	Painter.setRenderHint(QPainter::SmoothPixmapTransform);
	// About the centre (pivot 0.5, 0.5).
	Painter.translate(width() / 2.0, height() / 2.0);
	Painter.rotate(Radians * 180.0 / 3.1415927);
	Painter.translate(-Image.width() / 2.0, -Image.height() / 2.0);
	Painter.drawPixmap(0, 0, Image);
}

SOrvaThumbnail::SOrvaThumbnail(FEditorHost* InHost, FArguments InArgs, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
    , ImageName(std::move(InArgs.ImageName))
    , ThumbnailId(std::move(InArgs.ThumbnailId))
    , ThumbnailSize(InArgs.ThumbnailSize)
    , ThumbnailPadding(InArgs.ThumbnailPadding)
    , bCanDelete(InArgs.bCanDelete)
    , OnDelete(std::move(InArgs.OnDelete))
{
	setObjectName(QStringLiteral("SOrvaThumbnail"));
	setFixedSize(sizeHint());

	// Five layers in one cell, bottom to top in the order they are added.
	auto* Layers = new QGridLayout(this);
	Layers->setContentsMargins(ThumbnailPadding);
	Layers->setSpacing(0);

	Frame = new QFrame();
	Frame->setObjectName(QStringLiteral("ThumbnailFrame"));
	Frame->setFrameShape(QFrame::NoFrame);
	Frame->setStyleSheet(QStringLiteral("QFrame#ThumbnailFrame { background: rgba(0, 0, 0, 60); }"));
	Layers->addWidget(Frame, 0, 0);

	const QPixmap Throbber = FAppStyle::GetBrush(QStringLiteral("NotificationList.Throbber"));
	LoadingThrobber = new SOrvaSpinningImage(Throbber);
	LoadingThrobber->setObjectName(QStringLiteral("LoadingThrobber"));
	Layers->addWidget(LoadingThrobber, 0, 0, Qt::AlignCenter);

	ThumbnailImage = new QLabel();
	ThumbnailImage->setObjectName(QStringLiteral("ThumbnailImage"));
	ThumbnailImage->setScaledContents(true);
	ThumbnailImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
	ThumbnailImage->setAttribute(Qt::WA_TransparentForMouseEvents);
	ThumbnailImage->hide();
	Layers->addWidget(ThumbnailImage, 0, 0);

	PendingThrobber = new SOrvaSpinningImage(Throbber);
	PendingThrobber->setObjectName(QStringLiteral("PendingThrobber"));
	PendingThrobber->setToolTip(LOCTEXT("Pending_Tooltip", "Waiting for its upload").ToString());
	Layers->addWidget(PendingThrobber, 0, 0, Qt::AlignCenter);

	DeleteCombo = new QToolButton();
	DeleteCombo->setObjectName(QStringLiteral("DeleteCombo"));
	FAppStyle::ApplyButtonStyle(DeleteCombo, QStringLiteral("ComboButton"));
	DeleteCombo->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.ChevronDown")));
	DeleteCombo->setIconSize(QSize(12, 12));
	DeleteCombo->setPopupMode(QToolButton::InstantPopup);
	DeleteMenu = new QMenu(DeleteCombo);
	DeleteMenu->setObjectName(QStringLiteral("DeleteMenu"));
	DeleteMenu->setToolTipsVisible(true);
	DeleteCombo->setMenu(DeleteMenu);
	connect(DeleteMenu, &QMenu::aboutToShow, this,
	        [this]
	        {
		        bMenuOpen = true;
		        BuildDeleteMenu();
		        UpdateBoundState();
	        });
	connect(DeleteMenu, &QMenu::aboutToHide, this,
	        [this]
	        {
		        bMenuOpen = false;
		        UpdateBoundState();
	        });
	Layers->addWidget(DeleteCombo, 0, 0, Qt::AlignRight | Qt::AlignTop);

	FailedMark = new QLabel(LOCTEXT("Failed", "Failed").ToString());
	FailedMark->setObjectName(QStringLiteral("FailedMark"));
	FailedMark->setAlignment(Qt::AlignCenter);
	FailedMark->setWordWrap(true);
	FailedMark->setStyleSheet(QStringLiteral("QLabel#FailedMark { color: white; background: rgba(176, 32, 32, 200); "
	                                         "border-radius: 3px; padding: 2px 6px; }"));
	FailedMark->hide();
	Layers->addWidget(FailedMark, 0, 0, Qt::AlignCenter);

	Badge = new QLabel();
	Badge->setObjectName(QStringLiteral("Badge"));
	Badge->setAttribute(Qt::WA_TransparentForMouseEvents);
	Badge->setStyleSheet(QStringLiteral("QLabel#Badge { color: white; background: rgba(0, 0, 0, 170); "
	                                    "border-radius: 3px; padding: 0px 4px; font-size: 9pt; }"));
	Badge->hide();
	Layers->addWidget(Badge, 0, 0, Qt::AlignLeft | Qt::AlignTop);

	Caption = new QLabel();
	Caption->setObjectName(QStringLiteral("Caption"));
	Caption->setAttribute(Qt::WA_TransparentForMouseEvents);
	Caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	Caption->setStyleSheet(QStringLiteral("QLabel#Caption { color: white; background: rgba(0, 0, 0, 150); "
	                                      "padding: 1px 4px; font-size: 10pt; }"));
	Caption->hide();
	Layers->addWidget(Caption, 0, 0, Qt::AlignBottom);

	// One full turn a second, from construction on.
	SpinCurve = new QVariantAnimation(this);
	SpinCurve->setStartValue(0.0);
	SpinCurve->setEndValue(1.0);
	SpinCurve->setDuration(1000);
	SpinCurve->setEasingCurve(QEasingCurve::Linear);
	SpinCurve->setLoopCount(-1);
	connect(SpinCurve, &QVariantAnimation::valueChanged, this,
	        [this](const QVariant& Value)
	        {
		        const double Angle = Value.toDouble() * 2.0 * 3.1415927;
		        LoadingThrobber->SetAngle(Angle);
		        PendingThrobber->SetAngle(Angle);
		        UpdateBoundState();
	        });
	SpinCurve->start();

	// A tile without a picture (a new world's) has nothing to wait for.
	if (ImageName.isEmpty())
	{
		LoadingThrobber->hide();
		SpinCurve->stop();
	}

	// The cache holds this weakly; it expires with the tile.
	Receiver = std::shared_ptr<IImageReceiver>(static_cast<IImageReceiver*>(this), [](IImageReceiver*) {});
	UpdateBoundState();
}

SOrvaThumbnail::~SOrvaThumbnail()
{
	Receiver.reset();
}

QSize SOrvaThumbnail::sizeHint() const
{
	return QSize(int(std::lround(float(ThumbnailSize.width()))), int(std::lround(float(ThumbnailSize.height()))));
}

double SOrvaThumbnail::GetSpinProgress() const
{
	return SpinCurve->currentValue().toDouble();
}

bool SOrvaThumbnail::IsSpinning() const
{
	return SpinCurve->state() == QAbstractAnimation::Running;
}

bool SOrvaThumbnail::IsPendingUpload() const
{
	UOrvaDataCacheSubsystem* Cache = Host ? Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>() : nullptr;
	// A tile without an image (a world without a title image) would find the list's placeholder,
	// whose name is empty too: it has nothing waiting for an upload.
	if (!Cache || ImageName.isEmpty())
	{
		return false;
	}
	const FOrvaImageDataPtr Local = Cache->GetLocalImageData(ImageName);
	return Local && Local->Id.isEmpty() && !ImageName.startsWith(QLatin1String("http"), Qt::CaseInsensitive);
}

void SOrvaThumbnail::UpdateBoundState()
{
	if (!bFailed && !ImageName.isEmpty() && !ImageName.startsWith(QLatin1String("http"), Qt::CaseInsensitive))
	{
		const UOrvaDataCacheSubsystem* Cache = Host ? Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>() : nullptr;
		if (Cache && Cache->IsLocalImageRefused(ImageName))
		{
			// Its upload ended without the service storing it: nothing is pending any more.
			SetFailed(LOCTEXT("UploadRefused", "The service did not store this screenshot").ToString());
		}
	}
	const bool bPending = !bPendingDismissed && IsPendingUpload();
	if (PendingThrobber->isHidden() == bPending)
	{
		PendingThrobber->setVisible(bPending);
	}
	const bool bCombo = bCanDelete && (bHovered || bMenuOpen);
	if (DeleteCombo->isHidden() == bCombo)
	{
		DeleteCombo->setVisible(bCombo);
	}
}

void SOrvaThumbnail::enterEvent(QEnterEvent* Event)
{
	bHovered = true;
	UpdateBoundState();
	QWidget::enterEvent(Event);
}

void SOrvaThumbnail::leaveEvent(QEvent* Event)
{
	bHovered = false;
	UpdateBoundState();
	QWidget::leaveEvent(Event);
}

void SOrvaThumbnail::showEvent(QShowEvent* Event)
{
	QWidget::showEvent(Event);
	if (SpinCurve->state() == QAbstractAnimation::Paused)
	{
		SpinCurve->resume();
	}
	UpdateBoundState();
}

void SOrvaThumbnail::hideEvent(QHideEvent* Event)
{
	// A tile nobody sees (a panel kept after a logout) turns nothing.
	if (SpinCurve->state() == QAbstractAnimation::Running)
	{
		SpinCurve->pause();
	}
	QWidget::hideEvent(Event);
}

void SOrvaThumbnail::SetBrushTexture(UTexture* Texture)
{
	ImageBrush.ResourceObject = Texture;
	++BrushChanges;
	ShowPicture();
	// A downloaded texture's pixels may still be on their way from the render thread.
	connect(Texture, &UTexture::OnPixelsWritten, this,
	        [this, Texture]
	        {
		        if (ImageBrush.ResourceObject == Texture)
		        {
			        ShowPicture();
		        }
	        });
}

void SOrvaThumbnail::ShowPicture()
{
	if (UTexture* Texture = ImageBrush.ResourceObject)
	{
		const QImage Image = Texture->ToImage();
		ThumbnailImage->setPixmap(Image.isNull() ? QPixmap() : QPixmap::fromImage(Image));
	}
}

void SOrvaThumbnail::OnLocalImageLoaded(UTexture2D* Texture)
{
	if (!Texture || !ThumbnailImage || ImageBrush.ResourceObject == Texture)
	{
		return;
	}
	SetBrushTexture(Texture);
	ThumbnailImage->show();
	LoadingThrobber->hide();
}

void SOrvaThumbnail::OnRemoteImageLoaded(UTexture2DDynamic* Texture)
{
	if (!Texture && !ImageBrush.ResourceObject)
	{
		// The download failed: turning on would promise a picture that is not coming.
		SetFailed(LOCTEXT("DownloadFailed", "The picture could not be downloaded").ToString());
		return;
	}
	if (!Texture || !ThumbnailImage || ImageBrush.ResourceObject == Texture)
	{
		return;
	}
	if (bFailed)
	{
		bFailed = false;
		FailedMark->hide();
	}
	SetBrushTexture(Texture);
	ThumbnailImage->show();
	LoadingThrobber->hide();
	bPendingDismissed = true;
	PendingThrobber->hide();
	// Both throbbers are gone for good: nothing is left to turn.
	SpinCurve->stop();
}

void SOrvaThumbnail::SetCaption(const QString& Text)
{
	Caption->setToolTip(Text);
	Caption->setText(Caption->fontMetrics().elidedText(
	    Text, Qt::ElideRight, std::max(0, width() - ThumbnailPadding.left() - ThumbnailPadding.right() - 8)));
	Caption->setVisible(!Text.isEmpty());
}

void SOrvaThumbnail::SetBadge(const QString& Text)
{
	Badge->setText(Text);
	Badge->setVisible(!Text.isEmpty());
}

void SOrvaThumbnail::SetFailed(const QString& Reason)
{
	bFailed = true;
	bPendingDismissed = true;
	LoadingThrobber->hide();
	PendingThrobber->hide();
	SpinCurve->stop();
	FailedMark->setToolTip(Reason);
	FailedMark->show();
}

void SOrvaThumbnail::BuildDeleteMenu()
{
	DeleteMenu->clear();
	QAction* Delete = DeleteMenu->addAction(LOCTEXT("Delete", "Delete").ToString());
	Delete->setObjectName(QStringLiteral("Delete"));
	Delete->setToolTip(LOCTEXT("Delete_Tooltip", "Delete this one").ToString());
	connect(Delete, &QAction::triggered, this, &SOrvaThumbnail::HandleDelete);
}

void SOrvaThumbnail::HandleDelete()
{
	UE_LOG(LogTemp, Warning, QStringLiteral("Delete Thumbnail"));
	if (OnDelete)
	{
		// A copy: the handler may end up replacing this tile.
		const QString Id = ThumbnailId;
		const auto Handler = OnDelete;
		Handler(Id);
	}
}

#undef LOCTEXT_NAMESPACE
