// The format-bound image decoders on arbitrary bytes: each decoder refuses or decodes without
// faults, a decode yields exactly Width * Height BGRA pixels within the size it announced, and the
// decoder that tries the formats in turn agrees with the one bound to the format it names.
#include "FuzzSupport.h"
#include "ImageWrapper.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	// The image library warns about every broken file; that is the expected case here.
	static const QtMessageHandler Quiet =
	    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
	(void)Quiet;
	const QByteArray Bytes = FFuzz::Bytes(Data, Size);
	EImageFormat First = EImageFormat::Invalid;
	size_t FirstPixels = 0;
	for (const EImageFormat Format : FImageDecoding::TryOrder)
	{
		const std::unique_ptr<FImageWrapper> Wrapper = FImageWrapperModule::CreateImageWrapper(Format);
		if (!Wrapper->SetCompressed(Bytes))
		{
			continue;
		}
		std::vector<uint8_t> Raw;
		if (!Wrapper->GetRaw(ERGBFormat::BGRA, 8, Raw))
		{
			continue;
		}
		if (Wrapper->GetWidth() <= 0 || Wrapper->GetHeight() <= 0 ||
		    Raw.size() != size_t(Wrapper->GetWidth()) * size_t(Wrapper->GetHeight()) * 4)
		{
			std::abort();
		}
		if (First == EImageFormat::Invalid)
		{
			First = Format;
			FirstPixels = Raw.size();
		}
	}
	FDecodedImage Decoded;
	const bool bDecoded = FImageDecoding::DecodeBgra(Bytes, Decoded);
	if (bDecoded != (First != EImageFormat::Invalid) ||
	    (bDecoded && (Decoded.Format != First || Decoded.Pixels.size() != FirstPixels)))
	{
		std::abort();
	}
	return 0;
}
