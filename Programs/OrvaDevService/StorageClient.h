#pragma once

// The service's own calls to the object store, signed with its long-term key: the bucket and
// the caller's identity at start, scoped temporary credentials per upload (STS AssumeRole), and
// the HEAD that checks an upload arrived. Plain C++ on cpp-httplib, expat and the shared SigV4
// signer; no Qt.

#include "AwsSigV4.h"
#include "ServiceOptions.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace OrvaDev
{

struct FTemporaryCredentials
{
	std::string AccessKeyId;
	std::string SecretAccessKey;
	std::string SessionToken;
	std::string Expiration;
};

// How one call to the object store went: Status 0 means no answer at all.
struct FStoreAnswer
{
	int Status = 0;
	std::string Body;
	std::string ContentLength;
	// No answer because the call's deadline came first.
	bool bPastDeadline = false;
};

// One call to the object store, its IAM or its STS, signed in headers with Keys.
struct FStoreCall
{
	std::string SchemeHostPort; // "http://127.0.0.1:9000"
	std::string HostHeader;     // "127.0.0.1:9000"
	std::string Region;
	std::string Service = "s3";
	std::string Method;
	std::string Path; // decoded; the call encodes it
	AwsSigV4::FNameValueList Query;
	std::string Body;
	std::string ContentType; // sent and signed when set
	int ReadTimeoutSeconds = 20;
	// The call gives up at this time whatever the timeouts above say.
	std::optional<std::chrono::steady_clock::time_point> Deadline;
};
FStoreAnswer CallStore(const FStoreCall& Call, const AwsSigV4::FCredentials& Keys);

class FStorageClient
{
public:
	explicit FStorageClient(FStorageOptions InOptions);

	// Makes the bucket when it is missing and learns who the service's key belongs to. Empty on
	// success, else what went wrong.
	std::string Bootstrap();

	using FDeadline = std::chrono::steady_clock::time_point;

	// Credentials that may only PUT Bucket/ObjectKey, for DurationSeconds: a role for that key
	// (made, or updated, with a policy allowing exactly that PUT), assumed with a session policy
	// saying the same. Empty access key id, with the reason in OutProblem, on failure, also when
	// the store has not answered every call by Deadline. Calls for different roles run side by
	// side; only those for one role wait for each other.
	FTemporaryCredentials IssueUploadCredentials(const std::string& RoleName, const std::string& ObjectKey,
	                                             int64_t DurationSeconds, FDeadline Deadline, std::string& OutProblem);

	// The object's size, or nullopt when it is not there (OutProblem says why when the store
	// could not be asked by Deadline).
	std::optional<int64_t> ObjectSize(const std::string& ObjectKey, FDeadline Deadline, std::string& OutProblem);

	// The first element called Name in an XML document, as text; empty when absent or when the
	// document is not well-formed.
	static std::string XmlText(const std::string& Xml, const std::string& Name);

private:
	using FAnswer = FStoreAnswer;
	FAnswer Call(const std::string& Service, const std::string& Method, const std::string& Path,
	             const std::string& Body, const std::string& ContentType,
	             std::optional<FDeadline> Deadline = std::nullopt);
	FAnswer Action(const std::string& Service, const std::string& Version,
	               const std::vector<std::pair<std::string, std::string>>& Form,
	               std::optional<FDeadline> Deadline = std::nullopt);

	FTemporaryCredentials IssueLocked(const std::string& RoleName, const std::string& ObjectKey,
	                                  int64_t DurationSeconds, FDeadline Deadline, std::string& OutProblem);

	// The lock of one role, while someone holds or waits for it; the entry goes with its last user.
	std::shared_ptr<std::timed_mutex> RoleLock(const std::string& RoleName);
	void ReleaseRoleLock(const std::string& RoleName, std::shared_ptr<std::timed_mutex>& Lock);

	FStorageOptions Options;
	std::string Scheme;
	std::string HostPort;
	std::string CallerArn;
	// Guards RoleLocks only, never held across a call to the store.
	std::mutex RoleLocksMutex;
	// Role changes of one name must not interleave; different roles do not wait for each other.
	std::map<std::string, std::shared_ptr<std::timed_mutex>> RoleLocks;
};

} // namespace OrvaDev
