#include "DevServiceProcess.h"

#include <csignal>
#include <fstream>

std::string Api(const std::string& Relative)
{
	return "/api/v1/" + Relative;
}

httplib::Headers JsonHeaders(const std::string& Token)
{
	httplib::Headers Headers = {{"accept", "application/json"}};
	if (!Token.empty())
	{
		Headers.emplace("Authorization", "Bearer " + Token);
	}
	return Headers;
}

QJsonDocument JsonOf(const httplib::Result& Result)
{
	if (!Result)
	{
		return {};
	}
	return QJsonDocument::fromJson(QByteArray::fromStdString(Result->body));
}

QJsonObject ObjectOf(const httplib::Result& Result)
{
	return JsonOf(Result).object();
}

std::string StringOf(const QJsonObject& Object, const char* Key)
{
	return Object.value(QLatin1String(Key)).toString().toStdString();
}

FPluginMultipart MakePluginMultipart(const std::string& EncodedFileName, const std::string& FileBytes,
                                     const std::string& BoundaryNumber)
{
	const std::string Boundary = "---------------------------" + BoundaryNumber;
	FPluginMultipart Form;
	Form.ContentType = "multipart/form-data; boundary =" + Boundary;
	Form.Body = "\r\n--" + Boundary + "\r\n" + "Content-Disposition: form-data; name=\"image\"; filename=\"" +
	            EncodedFileName + "\"\r\n" + "Content-Type: image/png\r\n\r\n" + FileBytes + "\r\n--" + Boundary +
	            "--\r\n";
	return Form;
}

template <size_t N>
std::string Bytes(const char (&Literal)[N])
{
	return std::string(Literal, N - 1);
}

std::string TinyPng()
{
	// Signature, then an IHDR chunk header; enough for any sniffer, and binary bytes (NUL, CR LF)
	// that a careless multipart parser would trip over.
	return Bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89");
}

std::string TinyJpeg()
{
	// "\r\n--" inside the data looks like the start of a delimiter line and must stay data.
	return Bytes("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\r\n--\xFF\xD9");
}

std::string FTestService::Start(const std::vector<std::string>& Extra)
{
	BaseArguments = {"--creator",           AliceEmail + ":" + AlicePassword + ":Alice Example",
	                 "--creator",           BobPhone + ":" + BobPassword,
	                 "--clock-offset-file", ClockFile.string()};
	BaseArguments.insert(BaseArguments.end(), Extra.begin(), Extra.end());
	return Restart({});
}

std::string FTestService::Restart(const std::vector<std::string>& Extra)
{
	if (Service)
	{
		Service->Stop(SIGTERM);
	}
	std::vector<std::string> Arguments = BaseArguments;
	Arguments.insert(Arguments.end(), Extra.begin(), Extra.end());
	Service = std::make_unique<FDevServiceProcess>(ORVA_DEVSERVICE_PATH, Data, Arguments);
	std::string Problem = Service->Start();
	if (Problem.empty())
	{
		HttpClient = Service->MakeClient();
	}
	return Problem;
}

std::string FTestService::Login(const std::string& AccountKey, const std::string& Account, const std::string& Password)
{
	const std::string Body = "{\"" + AccountKey + "\":\"" + Account +
	                         "\",\"grant_type\":\"password\",\"guest_token\":\"string\",\"password\":\"" + Password +
	                         "\"}";
	const httplib::Result Result =
	    HttpClient->Post(Api("auth/token?role=creator"), JsonHeaders(), Body, "application/json; charset=utf-8");
	if (!Result || Result->status != 200)
	{
		return {};
	}
	return StringOf(ObjectOf(Result), "access_token");
}

httplib::Result FTestService::PostJson(const std::string& Path, const std::string& Body, const std::string& Token)
{
	return HttpClient->Post(Api(Path), JsonHeaders(Token), Body, "application/json; charset=utf-8");
}

httplib::Result FTestService::PatchJson(const std::string& Path, const std::string& Body, const std::string& Token)
{
	return HttpClient->Patch(Api(Path), JsonHeaders(Token), Body, "application/json; charset=utf-8");
}

httplib::Result FTestService::Get(const std::string& Path, const std::string& Token)
{
	return HttpClient->Get(Api(Path), JsonHeaders(Token));
}

void FTestService::SetClockOffset(int64_t Seconds)
{
	std::ofstream(ClockFile, std::ios::trunc) << Seconds;
}

QJsonObject FTestService::CreateWorld(const std::string& Token)
{
	const httplib::Result Result =
	    PostJson("me/worlds", R"({"description":"","name":"NewWorld","public":false})", Token);
	if (!Result || Result->status != 201)
	{
		return {};
	}
	return ObjectOf(Result);
}
