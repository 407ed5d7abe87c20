#pragma once

#include "AwsSigV4.h"
#include "TestProcess.h"

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

// The local S3 and STS store for tests: moto's server on 127.0.0.1 on a free port, with
// authentication enforced, so that signatures, session tokens and policies are really checked.
// Start() creates one administrator user whose long-term key signs everything the fixture does;
// the process is stopped by its id when the object goes (and by the kernel if the test dies).
class FLocalS3Server
{
public:
	FLocalS3Server() = default;
	~FLocalS3Server();
	FLocalS3Server(const FLocalS3Server&) = delete;
	FLocalS3Server& operator=(const FLocalS3Server&) = delete;

	// Whether the store checks what signs a request. moto checks signatures sent in the
	// "Authorization" header only: a query-string (presigned) signature makes it fail the request
	// with a 500. The development storage endpoint checks presigned part addresses itself and
	// passes the parts on signed in headers, so that path runs against an enforcing store too.
	enum class EAuthentication
	{
		Enforced,
		NotChecked
	};

	// Empty on success, else the reason (moto missing, no address line, bootstrap refused).
	std::string Start(EAuthentication Authentication = EAuthentication::Enforced);
	// SIGTERM, then SIGKILL after a grace time. Safe to call twice.
	void Stop();
	bool IsRunning() const { return Process.IsRunning(); }
	pid_t ProcessId() const { return Process.ProcessId(); }
	int Port() const { return ServerPort; }
	// "http://127.0.0.1:PORT"
	std::string Endpoint() const;
	std::string LogText() const;

	// The command that runs the server: $ORVA_MOTO_SERVER, else "moto_server" on the PATH.
	static std::string ServerCommand();
	// Whether ServerCommand() can be found; tests that need the store skip without it, except under
	// CI=true, where its absence also fails the calling test.
	static bool IsAvailable();

	static constexpr const char* Region = "us-east-1";
	const AwsSigV4::FCredentials& AdminCredentials() const { return Admin; }
	const std::string& AccountId() const { return Account; }
	const std::string& AdminArn() const { return AdminUserArn; }
	// The development service's options that make it issue this store's temporary credentials,
	// scoped to one pak each, for Bucket.
	std::vector<std::string> ServiceStsOptions(const std::string& Bucket) const
	{
		return {"--storage-sts",
		        "--storage-endpoint",
		        Endpoint(),
		        "--storage-bucket",
		        Bucket,
		        "--storage-access-key-id",
		        Admin.AccessKeyId,
		        "--storage-secret-access-key",
		        Admin.SecretAccessKey};
	}

	struct FResponse
	{
		int Status = 0; // 0: no answer
		std::string Body;
		std::map<std::string, std::string> Headers; // lower-case names
		std::string Header(const std::string& Name) const;
	};

	// One signed call. Path and query are decoded (the signer encodes them); Service is "s3",
	// "iam" or "sts". The payload is signed as its SHA-256.
	FResponse Call(const std::string& Service, const std::string& Method, const std::string& Path,
	               const AwsSigV4::FNameValueList& Query, const std::string& Body,
	               const AwsSigV4::FCredentials& Credentials, const AwsSigV4::FNameValueList& ExtraHeaders = {}) const;
	// A query-API action (IAM, STS) with the administrator key; Parameters go in the form body.
	FResponse Action(const std::string& Service, const std::string& Action, const std::string& Version,
	                 const AwsSigV4::FNameValueList& Parameters) const;

	// Path-style S3 calls with the administrator key.
	bool CreateBucket(const std::string& Bucket) const;
	FResponse GetObject(const std::string& Bucket, const std::string& Key) const;
	FResponse HeadObject(const std::string& Bucket, const std::string& Key) const;
	bool PutObject(const std::string& Bucket, const std::string& Key, const std::string& Bytes) const;

	// Temporary credentials that may only PUT Bucket/Key: a role whose policy allows exactly that
	// (the session policy says the same), assumed by the administrator. Empty key id on failure.
	AwsSigV4::FCredentials IssueUploadCredentials(const std::string& Bucket, const std::string& Key,
	                                              int DurationSeconds = 900) const;

	// Moves the store's clock Seconds ahead for as long as the returned object lives, so that a test
	// sees temporary credentials run out without waiting for them (only the expiry check reads
	// this clock). The store may be shared by a suite; the object puts the clock back.
	class FClockShift
	{
	public:
		FClockShift(const FLocalS3Server& InServer, long long Seconds);
		~FClockShift();
		FClockShift(const FClockShift&) = delete;
		FClockShift& operator=(const FClockShift&) = delete;

	private:
		const FLocalS3Server& Server;
	};
	[[nodiscard]] FClockShift MoveClock(long long Seconds) const { return FClockShift(*this, Seconds); }

	// Why the last IssueUploadCredentials() failed.
	const std::string& GetLastProblem() const { return LastProblem; }

	// The first element called Name in an XML answer, as text; empty when absent.
	static std::string XmlText(const std::string& Xml, const std::string& Name);

private:
	std::string Bootstrap();

	FTestProcess Process;
	int ServerPort = 0;
	std::string LogPath;
	std::string ClockPath;
	AwsSigV4::FCredentials Admin;
	std::string Account;
	std::string AdminUserArn;
	mutable int RoleCounter = 0;
	mutable std::string LastProblem;
};
