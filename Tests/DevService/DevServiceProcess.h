#pragma once

#include "ServiceProcess.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The relative API path under the service's base address, as the plugin builds it.
std::string Api(const std::string& Relative);

httplib::Headers JsonHeaders(const std::string& Token = {});

QJsonDocument JsonOf(const httplib::Result& Result);
QJsonObject ObjectOf(const httplib::Result& Result);
std::string StringOf(const QJsonObject& Object, const char* Key);

// What the plugin sends to upload a screenshot, byte for byte: CR LF before the first delimiter,
// one part "image" typed image/png, and "boundary =" in the header with a blank before "=".
struct FPluginMultipart
{
	std::string ContentType;
	std::string Body;
};
FPluginMultipart MakePluginMultipart(const std::string& EncodedFileName, const std::string& FileBytes,
                                     const std::string& BoundaryNumber = "-1234567890");

// Minimal files that start with the real signatures.
std::string TinyPng();
std::string TinyJpeg();

// Two creators every test service knows: one that logs in by email, one by phone.
inline const std::string AliceEmail = "alice@example.com";
inline const std::string AlicePassword = "alice-Secret-1";
inline const std::string BobPhone = "15550001";
inline const std::string BobPassword = "bob-Secret-2";

// A service over a fresh data folder, with the two creators seeded, and a client for it.
class FTestService
{
public:
	// Empty on success, else the reason. Extra arguments are appended to the command line.
	std::string Start(const std::vector<std::string>& Extra = {});
	// Stops (SIGTERM) and starts again on the same data folder.
	std::string Restart(const std::vector<std::string>& Extra = {});

	// The token request exactly as the plugin writes it; the bare token, or empty.
	std::string Login(const std::string& AccountKey, const std::string& Account, const std::string& Password);
	std::string LoginAlice() { return Login("email", AliceEmail, AlicePassword); }
	std::string LoginBob() { return Login("phone", BobPhone, BobPassword); }

	httplib::Result PostJson(const std::string& Path, const std::string& Body, const std::string& Token);
	httplib::Result PatchJson(const std::string& Path, const std::string& Body, const std::string& Token);
	httplib::Result Get(const std::string& Path, const std::string& Token);

	// Sets the service's clock Seconds past the wall clock, read at each request: a test moves it
	// past an expiry, or into the next second, instead of waiting.
	void SetClockOffset(int64_t Seconds);

	// POST "me/worlds" with the plugin's body; the new world's object (empty on failure).
	QJsonObject CreateWorld(const std::string& Token);

	const std::filesystem::path& DataDir() const { return Data; }
	FDevServiceProcess& Process() { return *Service; }
	httplib::Client& Client() { return *HttpClient; }

private:
	FTempDir Temp;
	std::filesystem::path Data = Temp.Path() / "data";
	std::filesystem::path ClockFile = Temp.Path() / "clock-offset";
	std::vector<std::string> BaseArguments;
	std::unique_ptr<FDevServiceProcess> Service;
	std::unique_ptr<httplib::Client> HttpClient;
};
