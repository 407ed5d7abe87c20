#pragma once

#include "Http.h"

#include <memory>

// Answers made without a server, for feeding answer handlers directly (fuzzing, unit tests).
struct FHttpResponseTestAccess
{
	static FHttpResponsePtr Make(int Status, const QByteArray& Body, const FHttpHeaderList& Headers = {})
	{
		auto Response = std::make_shared<FHttpResponse>();
		Response->ResponseCode = Status;
		Response->Content = Body;
		Response->Headers = Headers;
		return Response;
	}
};
