#include "StorageClient.h"

#include "AwsSigV4.h"

#include <expat.h>
#include <httplib.h>

#include <chrono>

namespace OrvaDev
{

namespace
{

// An application/x-www-form-urlencoded body: blanks as "+", every other byte but A-Z a-z 0-9
// - . _ ~ as %XX.
std::string FormBody(const std::vector<std::pair<std::string, std::string>>& Form)
{
	std::string Out;
	for (const auto& [Name, Value] : Form)
	{
		if (!Out.empty())
		{
			Out.push_back('&');
		}
		for (const std::string* Part : {&Name, &Value})
		{
			std::string Encoded = AwsSigV4::UriEncode(*Part, false);
			for (size_t At = Encoded.find("%20"); At != std::string::npos; At = Encoded.find("%20", At + 1))
			{
				Encoded.replace(At, 3, "+");
			}
			Out += Encoded;
			if (Part == &Name)
			{
				Out.push_back('=');
			}
		}
	}
	return Out;
}

// The one object key, and no copies into it: CopyObject and UploadPartCopy are a PutObject on the
// target, and the read of the source is granted wherever the source's bucket grants it (a bucket
// that serves paks to clients grants it to everyone), so put-only credentials could otherwise fill
// their key with another creator's pak. The role's policy and the session's say the same, so that
// neither alone decides.
std::string PutOnlyPolicy(const std::string& Bucket, const std::string& ObjectKey)
{
	return R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":["s3:PutObject","s3:AbortMultipartUpload","s3:ListMultipartUploadParts"],"Resource":"arn:aws:s3:::)" +
	       Bucket + "/" + ObjectKey +
	       R"("},{"Effect":"Deny","Action":"s3:PutObject","Resource":"*","Condition":{"Null":{"s3:x-amz-copy-source":"false"}}}]})";
}

struct FXmlSearch
{
	std::string Wanted;
	int Depth = 0;
	int FoundDepth = -1;
	bool bDone = false;
	std::string Text;
};

} // namespace

FStorageClient::FStorageClient(FStorageOptions InOptions)
    : Options(std::move(InOptions))
{
	const size_t SchemeEnd = Options.Endpoint.find("://");
	Scheme = SchemeEnd == std::string::npos ? "http" : Options.Endpoint.substr(0, SchemeEnd);
	HostPort = SchemeEnd == std::string::npos ? Options.Endpoint : Options.Endpoint.substr(SchemeEnd + 3);
	while (!HostPort.empty() && HostPort.back() == '/')
	{
		HostPort.pop_back();
	}
}

std::string FStorageClient::XmlText(const std::string& Xml, const std::string& Name)
{
	FXmlSearch Search;
	Search.Wanted = Name;
	XML_Parser Parser = XML_ParserCreate("UTF-8");
	XML_SetUserData(Parser, &Search);
	XML_SetElementHandler(
	    Parser,
	    [](void* Data, const XML_Char* Element, const XML_Char**)
	    {
		    auto& State = *static_cast<FXmlSearch*>(Data);
		    ++State.Depth;
		    if (!State.bDone && State.FoundDepth < 0 && State.Wanted == Element)
		    {
			    State.FoundDepth = State.Depth;
		    }
	    },
	    [](void* Data, const XML_Char*)
	    {
		    auto& State = *static_cast<FXmlSearch*>(Data);
		    if (State.FoundDepth == State.Depth)
		    {
			    State.bDone = true;
			    State.FoundDepth = -1;
		    }
		    --State.Depth;
	    });
	XML_SetCharacterDataHandler(Parser,
	                            [](void* Data, const XML_Char* Chars, int Length)
	                            {
		                            auto& State = *static_cast<FXmlSearch*>(Data);
		                            if (State.FoundDepth >= 0 && !State.bDone)
		                            {
			                            State.Text.append(Chars, size_t(Length));
		                            }
	                            });
	const bool bParsed = XML_Parse(Parser, Xml.data(), int(Xml.size()), 1) == XML_STATUS_OK;
	XML_ParserFree(Parser);
	return bParsed && Search.bDone ? Search.Text : std::string();
}

FStoreAnswer CallStore(const FStoreCall& Call, const AwsSigV4::FCredentials& Keys)
{
	AwsSigV4::FRequest Request;
	Request.Method = Call.Method;
	Request.Path = Call.Path;
	Request.Query = Call.Query;
	Request.Headers = {{"host", Call.HostHeader}};
	if (!Call.ContentType.empty())
	{
		Request.Headers.emplace_back("content-type", Call.ContentType);
	}
	Request.PayloadHash = AwsSigV4::Sha256Hex(Call.Body);
	AwsSigV4::Sign(Request, Keys, {Call.Region, Call.Service},
	               AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()));

	httplib::Request Http;
	Http.method = Call.Method;
	Http.path = AwsSigV4::UriEncode(Call.Path, true);
	if (!Call.Query.empty())
	{
		Http.path += "?" + AwsSigV4::EncodeQuery(Call.Query);
	}
	for (const auto& [Name, Value] : Request.Headers)
	{
		Http.headers.emplace(Name == "host" ? "Host" : Name, Value);
	}
	Http.body = Call.Body;
	using namespace std::chrono;
	microseconds ConnectTimeout = seconds(5);
	microseconds ReadTimeout = seconds(Call.ReadTimeoutSeconds);
	if (Call.Deadline)
	{
		const microseconds Left = duration_cast<microseconds>(*Call.Deadline - steady_clock::now());
		if (Left <= microseconds::zero())
		{
			FStoreAnswer Late;
			Late.bPastDeadline = true;
			return Late;
		}
		ConnectTimeout = std::min(ConnectTimeout, Left);
		ReadTimeout = std::min(ReadTimeout, Left);
	}
	httplib::Client Client(Call.SchemeHostPort);
	Client.set_connection_timeout(duration_cast<seconds>(ConnectTimeout).count(),
	                              (ConnectTimeout % seconds(1)).count());
	Client.set_read_timeout(duration_cast<seconds>(ReadTimeout).count(), (ReadTimeout % seconds(1)).count());
	Client.set_write_timeout(duration_cast<seconds>(ReadTimeout).count(), (ReadTimeout % seconds(1)).count());
	Client.set_url_encode(false);
	FStoreAnswer Answer;
	httplib::Response Response;
	httplib::Error Error = httplib::Error::Success;
	if (Client.send(Http, Response, Error))
	{
		Answer.Status = Response.status;
		Answer.Body = std::move(Response.body);
		Answer.ContentLength = Response.get_header_value("Content-Length");
	}
	else if (Call.Deadline)
	{
		// A time-out cut short by the deadline may end a moment before it.
		Answer.bPastDeadline = steady_clock::now() + milliseconds(100) >= *Call.Deadline;
	}
	return Answer;
}

FStorageClient::FAnswer FStorageClient::Call(const std::string& Service, const std::string& Method,
                                             const std::string& Path, const std::string& Body,
                                             const std::string& ContentType, std::optional<FDeadline> Deadline)
{
	FStoreCall Call;
	Call.SchemeHostPort = Scheme + "://" + HostPort;
	Call.HostHeader = HostPort;
	Call.Region = Options.Region;
	Call.Service = Service;
	Call.Method = Method;
	Call.Path = Path;
	Call.Body = Body;
	Call.ContentType = ContentType;
	Call.Deadline = Deadline;
	return CallStore(Call, {Options.AccessKeyId, Options.SecretAccessKey, ""});
}

FStorageClient::FAnswer FStorageClient::Action(const std::string& Service, const std::string& Version,
                                               const std::vector<std::pair<std::string, std::string>>& Form,
                                               std::optional<FDeadline> Deadline)
{
	std::vector<std::pair<std::string, std::string>> Full = Form;
	Full.insert(Full.begin() + 1, {"Version", Version});
	return Call(Service, "POST", "/", FormBody(Full), "application/x-www-form-urlencoded; charset=utf-8", Deadline);
}

std::shared_ptr<std::timed_mutex> FStorageClient::RoleLock(const std::string& RoleName)
{
	std::lock_guard Guard(RoleLocksMutex);
	std::shared_ptr<std::timed_mutex>& Lock = RoleLocks[RoleName];
	if (!Lock)
	{
		Lock = std::make_shared<std::timed_mutex>();
	}
	return Lock;
}

void FStorageClient::ReleaseRoleLock(const std::string& RoleName, std::shared_ptr<std::timed_mutex>& Lock)
{
	std::lock_guard Guard(RoleLocksMutex);
	Lock.reset();
	const auto Found = RoleLocks.find(RoleName);
	if (Found != RoleLocks.end() && Found->second.use_count() == 1)
	{
		RoleLocks.erase(Found);
	}
}

std::string FStorageClient::Bootstrap()
{
	const FAnswer Identity = Action("sts", "2011-06-15", {{"Action", "GetCallerIdentity"}});
	CallerArn = XmlText(Identity.Body, "Arn");
	if (Identity.Status != 200 || CallerArn.empty())
	{
		return "the store at " + Options.Endpoint + " does not accept the service's key (GetCallerIdentity: " +
		       (Identity.Status == 0 ? std::string("no answer") : std::to_string(Identity.Status)) + ")";
	}
	const FAnswer Bucket = Call("s3", "PUT", "/" + Options.Bucket, "", "");
	if (Bucket.Status != 200 && XmlText(Bucket.Body, "Code") != "BucketAlreadyOwnedByYou")
	{
		return "cannot create the bucket " + Options.Bucket + ": " + std::to_string(Bucket.Status) + " " +
		       XmlText(Bucket.Body, "Code");
	}
	return {};
}

FTemporaryCredentials FStorageClient::IssueUploadCredentials(const std::string& RoleName, const std::string& ObjectKey,
                                                             int64_t DurationSeconds, FDeadline Deadline,
                                                             std::string& OutProblem)
{
	std::shared_ptr<std::timed_mutex> Lock = RoleLock(RoleName);
	if (!Lock->try_lock_until(Deadline))
	{
		ReleaseRoleLock(RoleName, Lock);
		OutProblem = "another request for the same upload still waits for the store";
		return {};
	}
	FTemporaryCredentials Credentials = IssueLocked(RoleName, ObjectKey, DurationSeconds, Deadline, OutProblem);
	Lock->unlock();
	ReleaseRoleLock(RoleName, Lock);
	return Credentials;
}

FTemporaryCredentials FStorageClient::IssueLocked(const std::string& RoleName, const std::string& ObjectKey,
                                                  int64_t DurationSeconds, FDeadline Deadline, std::string& OutProblem)
{
	// A store that does not answer in time is told apart from one that refuses.
	const auto Failed = [&](const char* Step, const FAnswer& Answer)
	{
		OutProblem = std::string(Step) + ": " +
		             (Answer.Status == 0 ? Answer.bPastDeadline
		                                       ? std::string("the store did not answer before the request's deadline")
		                                       : std::string("the store did not answer")
		                                 : std::to_string(Answer.Status) + " " + XmlText(Answer.Body, "Code"));
		return FTemporaryCredentials{};
	};
	const std::string Trust = R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":{"AWS":")" +
	                          CallerArn + R"("},"Action":"sts:AssumeRole"}]})";
	const std::string Policy = PutOnlyPolicy(Options.Bucket, ObjectKey);
	const FAnswer Created =
	    Action("iam", "2010-05-08",
	           {{"Action", "CreateRole"}, {"RoleName", RoleName}, {"AssumeRolePolicyDocument", Trust}}, Deadline);
	std::string RoleArn = XmlText(Created.Body, "Arn");
	if (Created.Status != 200)
	{
		if (XmlText(Created.Body, "Code") != "EntityAlreadyExists")
		{
			return Failed("CreateRole", Created);
		}
		const FAnswer Existing = Action("iam", "2010-05-08", {{"Action", "GetRole"}, {"RoleName", RoleName}}, Deadline);
		RoleArn = XmlText(Existing.Body, "Arn");
		if (RoleArn.empty())
		{
			return Failed("GetRole", Existing);
		}
	}
	const FAnswer Scoped = Action("iam", "2010-05-08",
	                              {{"Action", "PutRolePolicy"},
	                               {"RoleName", RoleName},
	                               {"PolicyName", "put-one-object"},
	                               {"PolicyDocument", Policy}},
	                              Deadline);
	if (Scoped.Status != 200 || RoleArn.empty())
	{
		return Failed("PutRolePolicy", Scoped);
	}
	const FAnswer Assumed = Action("sts", "2011-06-15",
	                               {{"Action", "AssumeRole"},
	                                {"RoleArn", RoleArn},
	                                {"RoleSessionName", "orva-upload"},
	                                {"Policy", Policy},
	                                {"DurationSeconds", std::to_string(DurationSeconds)}},
	                               Deadline);
	FTemporaryCredentials Credentials{XmlText(Assumed.Body, "AccessKeyId"), XmlText(Assumed.Body, "SecretAccessKey"),
	                                  XmlText(Assumed.Body, "SessionToken"), XmlText(Assumed.Body, "Expiration")};
	if (Assumed.Status != 200 || Credentials.AccessKeyId.empty() || Credentials.SessionToken.empty())
	{
		return Failed("AssumeRole", Assumed);
	}
	return Credentials;
}

std::optional<int64_t> FStorageClient::ObjectSize(const std::string& ObjectKey, FDeadline Deadline,
                                                  std::string& OutProblem)
{
	const FAnswer Head = Call("s3", "HEAD", "/" + Options.Bucket + "/" + ObjectKey, "", "", Deadline);
	if (Head.Status == 200)
	{
		try
		{
			return std::stoll(Head.ContentLength);
		}
		catch (...)
		{
			OutProblem = "the store's HEAD answer has no size";
			return std::nullopt;
		}
	}
	if (Head.Status != 404)
	{
		OutProblem = Head.Status != 0     ? "HEAD answered " + std::to_string(Head.Status)
		             : Head.bPastDeadline ? "the store did not answer before the request's deadline"
		                                  : "the store does not answer";
	}
	return std::nullopt;
}

} // namespace OrvaDev
