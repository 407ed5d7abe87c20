// The patch settings reader on arbitrary file contents, as the commandlet reads its settings file:
// a refused file leaves the record as it was, and an accepted one written and read again gives
// the same text.
#include "FuzzSupport.h"
#include "SerializeStructJson.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	static const QString Untouched = []
	{
		QString Json;
		TSerializeStructAsJsonString(FExportPatchSettings(), Json);
		return Json;
	}();

	FExportPatchSettings Settings;
	QString Error;
	QString Written;
	if (!TDeserializeJsonStringAsStruct(QString::fromUtf8(FFuzz::Bytes(Data, Size)), Settings, &Error))
	{
		if (Error.isEmpty() || !TSerializeStructAsJsonString(Settings, Written) || Written != Untouched)
		{
			std::abort();
		}
		return 0;
	}
	(void)Settings.GetCombinedAdditionalCommandletArgs();
	if (!TSerializeStructAsJsonString(Settings, Written))
	{
		std::abort();
	}
	FExportPatchSettings Again;
	QString Rewritten;
	if (!TDeserializeJsonStringAsStruct(Written, Again, &Error) || !TSerializeStructAsJsonString(Again, Rewritten) ||
	    Rewritten != Written)
	{
		std::abort();
	}
	return 0;
}
