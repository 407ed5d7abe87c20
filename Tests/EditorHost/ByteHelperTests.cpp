#include "AsciiCase.h"
#include "Digest.h"
#include "FileDigest.h"
#include "Hex.h"
#include "NameCase.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string HexOf(EDigestKind Kind, std::string_view Bytes)
{
	return FHex::Encode(FDigest::Of(Kind, Bytes));
}

// The published test vectors (RFC 1321, FIPS 180 examples).
TEST(DigestTest, MatchesPublishedVectors)
{
	EXPECT_EQ(HexOf(EDigestKind::Md5, ""), "d41d8cd98f00b204e9800998ecf8427e");
	EXPECT_EQ(HexOf(EDigestKind::Md5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
	EXPECT_EQ(HexOf(EDigestKind::Sha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
	EXPECT_EQ(HexOf(EDigestKind::Sha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
	          "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
	EXPECT_EQ(HexOf(EDigestKind::Sha256, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
	EXPECT_EQ(HexOf(EDigestKind::Sha256, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DigestTest, PiecesDigestAsTheWhole)
{
	const std::string Whole(1000000, 'a');
	FDigest Running(EDigestKind::Sha1);
	for (size_t Offset = 0; Offset < Whole.size(); Offset += 4093)
	{
		Running.Update(std::string_view(Whole).substr(Offset, 4093));
	}
	Running.Update(nullptr, 0);
	const QByteArray Raw = Running.Final<QByteArray>();
	ASSERT_EQ(Raw.size(), 20);
	EXPECT_EQ(Raw.toHex().toStdString(), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
	EXPECT_EQ(Raw, FDigest::Of<QByteArray>(EDigestKind::Sha1, Whole));
}

TEST(HexTest, RoundTripsEveryByteAndReadsEitherCase)
{
	std::string Every;
	for (int Byte = 0; Byte < 256; ++Byte)
	{
		Every.push_back(static_cast<char>(Byte));
	}
	const std::string Text = FHex::Encode(Every);
	EXPECT_EQ(Text.substr(0, 8), "00010203");
	EXPECT_EQ(Text.substr(Text.size() - 4), "feff");
	EXPECT_TRUE(FHex::IsLowerDigits(Text));
	EXPECT_EQ(FHex::Decode(Text), Every);
	EXPECT_EQ(FHex::Decode("DEADbeef"), std::string("\xde\xad\xbe\xef"));
	EXPECT_EQ(FHex::Decode(""), std::string());
}

TEST(HexTest, RefusesOddCountsAndNonDigits)
{
	EXPECT_FALSE(FHex::Decode("abc").has_value());
	EXPECT_FALSE(FHex::Decode("0").has_value());
	for (const char* Bad : {"0g", "g0", "0x", " 0", "0 ", "-1", "0\xff"})
	{
		EXPECT_FALSE(FHex::Decode(Bad).has_value()) << Bad;
	}
	EXPECT_FALSE(FHex::Decode(std::string_view("00\0"
	                                           "0",
	                                           4))
	                 .has_value());
	// The neighbours of each digit range.
	for (const char Edge : {'/', ':', '@', 'G', '`', 'g'})
	{
		EXPECT_EQ(FHex::DigitValue(Edge), -1) << Edge;
	}
	EXPECT_FALSE(FHex::IsLowerDigits("00AB"));
}

TEST(AsciiCaseTest, FoldsAsciiLettersOnly)
{
	EXPECT_EQ(FAsciiCase::ToLower("Content-Type: A-Z@[`{"), "content-type: a-z@[`{");
	// UTF-8 bytes of "ÄÖ" and Latin-1 bytes stay as they are, whatever the locale says.
	EXPECT_EQ(FAsciiCase::ToLower("\xc3\x84\xc3\x96\xc4\xd6"), "\xc3\x84\xc3\x96\xc4\xd6");
	EXPECT_TRUE(FAsciiCase::StartsWith("Multipart/Form-Data; boundary=x", "multipart/form-data"));
	EXPECT_FALSE(FAsciiCase::StartsWith("multipart", "multipart/form-data"));
	EXPECT_TRUE(FAsciiCase::Equals("X-Amz-Date", "x-amz-date"));
	EXPECT_FALSE(FAsciiCase::Equals("X-Amz-Date", "x-amz-dates"));
	// '@' and '`', '[' and '{' differ by the case bit but are no letters.
	EXPECT_FALSE(FAsciiCase::Equals("@[", "`{"));
	EXPECT_FALSE(FAsciiCase::Equals("\xc4", "\xe4"));
}

TEST(NameCaseTest, ComparesAndHashesNamesIgnoringCase)
{
	EXPECT_TRUE(FNameCase::Equals(u"/Game/Maps/Entry", u"/game/MAPS/entry"));
	EXPECT_FALSE(FNameCase::Equals(u"/Game/@", u"/Game/`"));
	EXPECT_TRUE(FNameCase::StartsWith(u"/Game/__ExternalActors__/W1", u"/game/__externalactors__/"));
	EXPECT_FALSE(FNameCase::StartsWith(u"/Game", u"/Game/"));
	// Beyond ASCII the answers are Qt's full folding.
	EXPECT_TRUE(FNameCase::Equals(u"/Game/Ärger", u"/game/ärger"));
	EXPECT_TRUE(FNameCase::StartsWith(u"/Game/ÖL/X", u"/game/öl/"));
	EXPECT_FALSE(FNameCase::Equals(u"/Game/Ärger", u"/Game/Örger"));
	EXPECT_EQ(FNameCase::Hash(u"/Game/Ärger/Map"), FNameCase::Hash(u"/GAME/ärger/map"));
	EXPECT_EQ(FNameCase::Hash(u"/Game/A", 7), FNameCase::Hash(u"/game/a", 7));
	EXPECT_NE(FNameCase::Hash(u"/Game/A"), FNameCase::Hash(u"/Game/B"));
}
} // namespace

namespace
{
class FileDigestTest : public ::testing::Test
{
protected:
	QTemporaryDir Dir;

	QString Write(const QByteArray& Bytes)
	{
		const QString Path = Dir.filePath(QStringLiteral("data.bin"));
		QFile File(Path);
		EXPECT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Bytes);
		return Path;
	}
};

TEST_F(FileDigestTest, HashesTheWholeFileOrARangeInPieces)
{
	// Larger than one read, so that the pieces are put together.
	QByteArray Bytes(3 * 1024 * 1024 + 17, '\0');
	for (qsizetype Index = 0; Index < Bytes.size(); ++Index)
	{
		Bytes[Index] = char(Index * 7);
	}
	const QString Path = Write(Bytes);
	EXPECT_EQ(DigestOfFile(EDigestKind::Sha256, Path),
	          FDigest::Of<QByteArray>(EDigestKind::Sha256, Bytes.constData(), size_t(Bytes.size())));
	const QByteArray Range = Bytes.mid(1000, 2 * 1024 * 1024);
	EXPECT_EQ(DigestOfFile(EDigestKind::Md5, Path, 1000, Range.size()),
	          FDigest::Of<QByteArray>(EDigestKind::Md5, Range.constData(), size_t(Range.size())));
	EXPECT_EQ(DigestOfFile(EDigestKind::Md5, Path, Bytes.size(), 0), FDigest::Of<QByteArray>(EDigestKind::Md5, ""));
}

TEST_F(FileDigestTest, BytesThatCannotAllBeReadGiveNoDigest)
{
	const QString Path = Write(QByteArray(100, 'x'));
	EXPECT_TRUE(DigestOfFile(EDigestKind::Sha1, Path, 50, 51).isEmpty());
	EXPECT_TRUE(DigestOfFile(EDigestKind::Sha1, Path, -1).isEmpty());
	EXPECT_TRUE(DigestOfFile(EDigestKind::Sha1, Dir.filePath(QStringLiteral("missing.bin"))).isEmpty());
	EXPECT_FALSE(DigestOfFile(EDigestKind::Sha1, Path, 50, 50).isEmpty());
}
} // namespace
