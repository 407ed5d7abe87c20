// The storage error reader on an arbitrary status and body. Input: two bytes of status, then the
// body. An error status is never read as success, a success status without a code never as an
// error, and a code the store sent is kept and mapped as the table maps it.
#include "AwsS3Errors.h"
#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	if (Size < 2)
	{
		return 0;
	}
	const int Status = (int(Data[0]) << 8 | Data[1]) % 1000;
	const FS3Error Error = AwsS3::ParseErrorResponse(Status, FFuzz::Bytes(Data + 2, Size - 2));
	if (Error.HttpStatus != Status || Error.Describe().isEmpty())
	{
		std::abort();
	}
	if ((Status >= 300 || Status <= 0) && !Error.IsError())
	{
		std::abort();
	}
	if (Error.Code.isEmpty())
	{
		if (Status > 0 && Status < 300 && Error.IsError())
		{
			std::abort();
		}
	}
	else if (const ES3Errors Mapped = AwsS3::ErrorKindFromCode(Error.Code);
	         Mapped != ES3Errors::Unknown && Error.Kind != Mapped)
	{
		std::abort();
	}
	return 0;
}
