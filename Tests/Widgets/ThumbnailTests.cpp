#include "EditorFixture.h"

#include "OrvaDataCacheSubsystem.h"
#include "SOrvaThumbnail.h"
#include "Texture.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QMenu>
#include <QToolButton>

#include <vector>

namespace
{
UTexture2D* MakeTexture(QObject* Outer, int Width = 4, int Height = 3)
{
	std::vector<uint8_t> Pixels(size_t(Width) * Height * 4, 0x80);
	return UTexture2D::CreateTransient(Width, Height, PF_B8G8R8A8, std::move(Pixels), Outer);
}

void Hover(QWidget* Widget, bool bInside)
{
	if (bInside)
	{
		QEnterEvent Enter(QPointF(2, 2), QPointF(2, 2), Widget->mapToGlobal(QPointF(2, 2)));
		QApplication::sendEvent(Widget, &Enter);
	}
	else
	{
		QEvent Leave(QEvent::Leave);
		QApplication::sendEvent(Widget, &Leave);
	}
}
} // namespace

class Thumbnail : public FEditorFixture
{
protected:
	UOrvaDataCacheSubsystem* Cache() const { return Editor->Host().GetEditorSubsystem<UOrvaDataCacheSubsystem>(); }

	std::unique_ptr<SOrvaThumbnail> Make(SOrvaThumbnail::FArguments Args, bool bWithHost = true)
	{
		auto Tile = std::make_unique<SOrvaThumbnail>(bWithHost ? &Editor->Host() : nullptr, std::move(Args));
		Tile->show();
		FGameThread::RunUntilIdle(20);
		// Wherever the pointer is, the tests start unhovered.
		Hover(Tile.get(), false);
		return Tile;
	}

	// A screenshot of the current world that only exists on disk so far.
	void AddLocalScreenshot(const QString& Path, const QString& Id = QString())
	{
		auto Image = std::make_shared<FOrvaImageData>();
		Image->Url = Path;
		Image->Id = Id;
		Cache()->SetCurrImageList({Image});
	}
};

TEST_F(Thumbnail, DefaultTileIsLoadingWithATurningThrobber)
{
	StartEditor();
	SOrvaThumbnail::FArguments Remote;
	Remote.ImageName = QStringLiteral("https://cdn.orva.test/title.png");
	auto Tile = Make(std::move(Remote));
	EXPECT_EQ(Tile->size(), QSize(250, 250));
	EXPECT_EQ(Tile->GetThumbnailPadding(), QMargins(5, 5, 5, 5));
	EXPECT_EQ(Tile->findChild<QFrame*>(QStringLiteral("ThumbnailFrame"))->geometry(), QRect(5, 5, 240, 240));
	EXPECT_TRUE(Tile->GetLoadingThrobber()->isVisible());
	EXPECT_FALSE(Tile->GetThumbnailImage()->isVisible());
	// Nothing waits for an upload: the data cache's placeholder, whose name is empty too, is no image.
	EXPECT_FALSE(Tile->GetPendingThrobber()->isVisible());
	EXPECT_FALSE(Tile->GetDeleteCombo()->isVisible());

	// One turn a second: the angle follows the curve's progress.
	const double Before = Tile->GetLoadingThrobber()->GetAngle();
	FGameThread::RunUntil([&] { return std::abs(Tile->GetLoadingThrobber()->GetAngle() - Before) > 0.5; }, 2000);
	EXPECT_NEAR(Tile->GetLoadingThrobber()->GetAngle(), Tile->GetSpinProgress() * 2 * 3.1415927, 1e-6);
	EXPECT_GT(std::abs(Tile->GetLoadingThrobber()->GetAngle() - Before), 0.5);

	// Hidden, it turns nothing; shown again, it goes on.
	Tile->hide();
	EXPECT_FALSE(Tile->IsSpinning());
	Tile->show();
	EXPECT_TRUE(Tile->IsSpinning());
}

TEST_F(Thumbnail, ScreenshotTileNeverShowsTheDeleteComboWorldTileOnlyWhileHoveredOrOpen)
{
	StartEditor();
	auto Screenshot = Make({});
	Hover(Screenshot.get(), true);
	Screenshot->UpdateBoundState();
	EXPECT_FALSE(Screenshot->GetDeleteCombo()->isVisible());

	QStringList Deleted;
	SOrvaThumbnail::FArguments Args;
	Args.ThumbnailId = QStringLiteral("w-2");
	Args.bCanDelete = true;
	Args.OnDelete = [&](const QString& Id) { Deleted.append(Id); };
	auto World = Make(std::move(Args));
	EXPECT_FALSE(World->GetDeleteCombo()->isVisible());
	Hover(World.get(), true);
	EXPECT_TRUE(World->GetDeleteCombo()->isVisible());
	Hover(World.get(), false);
	EXPECT_FALSE(World->GetDeleteCombo()->isVisible());

	// Opened, the menu keeps the combo up after the pointer has gone.
	World->GetDeleteMenu()->popup(World->mapToGlobal(QPoint(0, 0)));
	EXPECT_TRUE(World->IsMenuOpen());
	EXPECT_TRUE(World->GetDeleteCombo()->isVisible());
	ASSERT_EQ(World->GetDeleteMenu()->actions().size(), 1);
	QAction* Delete = World->GetDeleteMenu()->actions().first();
	EXPECT_EQ(Delete->text(), QStringLiteral("Delete"));
	EXPECT_EQ(Delete->toolTip(), QStringLiteral("Delete this world"));
	Delete->trigger();
	World->GetDeleteMenu()->hide();
	EXPECT_EQ(Deleted, QStringList{QStringLiteral("w-2")});
	EXPECT_EQ(Log.Count(QStringLiteral("Delete Thumbnail")), 1);
	EXPECT_FALSE(World->IsMenuOpen());
	EXPECT_FALSE(World->GetDeleteCombo()->isVisible());

	// The menu is built anew each time: still one entry.
	World->GetDeleteMenu()->popup(World->mapToGlobal(QPoint(0, 0)));
	EXPECT_EQ(World->GetDeleteMenu()->actions().size(), 1);
	World->GetDeleteMenu()->hide();

	// Unbound, "Delete" only logs.
	SOrvaThumbnail::FArguments Unbound;
	Unbound.bCanDelete = true;
	auto Lone = Make(std::move(Unbound));
	Lone->GetDeleteMenu()->popup(Lone->mapToGlobal(QPoint(0, 0)));
	Lone->GetDeleteMenu()->actions().first()->trigger();
	Lone->GetDeleteMenu()->hide();
	EXPECT_EQ(Log.Count(QStringLiteral("Delete Thumbnail")), 2);
}

TEST_F(Thumbnail, LocalScreenshotWithoutIdShowsThePendingMarkOverItsPicture)
{
	StartEditor();
	const QString Local = Project.RootDir() + QStringLiteral("shots/http-like-name.png");
	AddLocalScreenshot(Local);
	SOrvaThumbnail::FArguments Args;
	Args.ImageName = Local;
	auto Tile = Make(std::move(Args));
	EXPECT_TRUE(Tile->GetPendingThrobber()->isVisible());
	UTexture2D* Texture = MakeTexture(Cache());
	Tile->OnLocalImageLoaded(Texture);
	EXPECT_TRUE(Tile->GetThumbnailImage()->isVisible());
	EXPECT_FALSE(Tile->GetLoadingThrobber()->isVisible());
	EXPECT_TRUE(Tile->GetPendingThrobber()->isVisible());
	// Drawn above the picture.
	EXPECT_GT(Tile->children().indexOf(Tile->GetPendingThrobber()),
	          Tile->children().indexOf(Tile->GetThumbnailImage()));

	// Once the service gave it an id, the next frame hides the mark.
	Cache()->GetLocalImageData(Local)->Id = QStringLiteral("img-1");
	EXPECT_TRUE(FGameThread::RunUntil([&] { return !Tile->GetPendingThrobber()->isVisible(); }, 2000));

	// A name starting with HTTP in capitals is remote, whatever the record says.
	AddLocalScreenshot(QStringLiteral("HTTP://127.0.0.1/shot.png"));
	SOrvaThumbnail::FArguments Remote;
	Remote.ImageName = QStringLiteral("HTTP://127.0.0.1/shot.png");
	auto RemoteTile = Make(std::move(Remote));
	EXPECT_FALSE(RemoteTile->IsPendingUpload());
	EXPECT_FALSE(RemoteTile->GetPendingThrobber()->isVisible());

	// Without a data cache the mark stays hidden.
	AddLocalScreenshot(Local);
	SOrvaThumbnail::FArguments Orphan;
	Orphan.ImageName = Local;
	auto OrphanTile = Make(std::move(Orphan), false);
	EXPECT_FALSE(OrphanTile->GetPendingThrobber()->isVisible());
}

TEST_F(Thumbnail, SameTextureTwiceKeepsTheBrushAndANullDownloadKeepsLoading)
{
	StartEditor();
	const QString Local = Project.RootDir() + QStringLiteral("shots/a.png");
	AddLocalScreenshot(Local);
	SOrvaThumbnail::FArguments Args;
	Args.ImageName = Local;
	auto Tile = Make(std::move(Args));

	// A failed download stops the spinner and says so, rather than promising a picture.
	Tile->OnRemoteImageLoaded(nullptr);
	EXPECT_FALSE(Tile->GetLoadingThrobber()->isVisible());
	EXPECT_FALSE(Tile->IsSpinning());
	EXPECT_TRUE(Tile->IsFailed());
	EXPECT_TRUE(Tile->GetFailedMark()->isVisible());
	EXPECT_FALSE(Tile->GetThumbnailImage()->isVisible());
	EXPECT_EQ(Tile->GetBrushChanges(), 0);

	UTexture2D* Texture = MakeTexture(Cache(), 8, 6);
	Tile->OnLocalImageLoaded(Texture);
	Tile->OnLocalImageLoaded(Texture);
	EXPECT_EQ(Tile->GetBrushChanges(), 1);
	EXPECT_EQ(Tile->GetImageBrush().ResourceObject, Texture);
	EXPECT_EQ(Tile->GetThumbnailImage()->pixmap().size(), QSize(8, 6));

	// A downloaded picture ends the pending mark for good, even though the record has no id.
	UTexture2DDynamic* Dynamic = UTexture2DDynamic::Create(2, 2, PF_B8G8R8A8, true, Cache());
	Dynamic->UpdateResource();
	Tile->OnRemoteImageLoaded(Dynamic);
	Tile->OnRemoteImageLoaded(Dynamic);
	EXPECT_EQ(Tile->GetBrushChanges(), 2);
	// The picture came after all: the failure mark goes.
	EXPECT_FALSE(Tile->IsFailed());
	EXPECT_FALSE(Tile->GetFailedMark()->isVisible());
	EXPECT_FALSE(Tile->GetPendingThrobber()->isVisible());
	EXPECT_FALSE(Tile->IsSpinning());
	FGameThread::RunUntilIdle(150);
	EXPECT_FALSE(Tile->GetPendingThrobber()->isVisible());
	// Its pixels arrive from the render thread later, and are drawn then.
	ASSERT_TRUE(EnqueueWriteRawDataToTexture(Editor->Host().RenderThread(), Dynamic, std::vector<uint8_t>(16, 0xff)));
	EXPECT_TRUE(FGameThread::RunUntil([&] { return Tile->GetThumbnailImage()->pixmap().size() == QSize(2, 2); }, 2000));
}

TEST_F(Thumbnail, ATileWithoutAPictureShowsItsCaptionAndBadgeAndNoSpinner)
{
	StartEditor();
	SOrvaThumbnail::FArguments Args;
	Args.ThumbnailSize = QSizeF(120.0, 80.0);
	auto Tile = Make(std::move(Args));
	EXPECT_FALSE(Tile->GetLoadingThrobber()->isVisible());
	EXPECT_FALSE(Tile->IsSpinning());
	EXPECT_FALSE(Tile->GetCaption()->isVisible());
	Tile->SetCaption(QStringLiteral("A world whose name is far longer than any tile"));
	Tile->SetBadge(QStringLiteral("Public"));
	EXPECT_TRUE(Tile->GetCaption()->isVisible());
	EXPECT_TRUE(Tile->GetCaption()->text().endsWith(QChar(0x2026)));
	EXPECT_EQ(Tile->GetCaption()->toolTip(), QStringLiteral("A world whose name is far longer than any tile"));
	EXPECT_TRUE(Tile->GetBadge()->isVisible());
	EXPECT_EQ(Tile->GetBadge()->text(), QStringLiteral("Public"));
}

TEST_F(Thumbnail, ReceiverExpiresWithTheTile)
{
	StartEditor();
	SOrvaThumbnail::FArguments Args;
	Args.ImageName = QStringLiteral("/nowhere.png");
	auto Tile = Make(std::move(Args));
	const std::weak_ptr<IImageReceiver> Weak = Tile->AsReceiver();
	EXPECT_EQ(Weak.lock()->GetImageUrl(), QStringLiteral("/nowhere.png"));
	Tile.reset();
	EXPECT_TRUE(Weak.expired());
}
