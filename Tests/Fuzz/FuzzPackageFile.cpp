// The package file reader on arbitrary bytes: it must refuse or accept without faults, and what it
// accepts must survive a write and a second read unchanged.
#include "FuzzSupport.h"
#include "ObjectClasses.h"
#include "PackageFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	QString Error;
	const std::optional<FPackageFile> Package = FPackageFile::Parse(FFuzz::Bytes(Data, Size), &Error);
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
