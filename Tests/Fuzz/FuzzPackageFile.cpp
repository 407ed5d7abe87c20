// The package file reader on arbitrary bytes: it must refuse or accept without faults, and what it
// accepts must survive a write and a second read unchanged; the short way through the common form
// must answer as the full reader does.
#include "FuzzSupport.h"
#include "ObjectClasses.h"
#include "PackageFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	QString Error;
	const QByteArray Bytes = FFuzz::Bytes(Data, Size);
	const std::optional<FPackageFile> Package = FPackageFile::Parse(Bytes, &Error);
	// Parse's short way through the common form answers as the full reader does.
	QString FullError;
	const std::optional<FPackageFile> Full = FPackageFile::ParseValidating(Bytes, &FullError);
	if (Package.has_value() != Full.has_value() || (Package && !(*Package == *Full)) ||
	    (Package && Package->Payload.type() != Full->Payload.type()) || (!Package && Error != FullError))
	{
		std::abort();
	}
	if (!Package)
	{
		return 0;
	}
	static const FClassTable Classes;
	(void)Package->IsLevel(Classes);
	(void)Package->IsRedirectorPackage();
	(void)Package->AllDependencies();
	const std::optional<FPackageFile> Again = FPackageFile::Parse(Package->Serialize(), &Error);
	if (!Again || !(*Again == *Package))
	{
		std::abort();
	}
	return 0;
}
