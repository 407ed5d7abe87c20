#include "LocalS3Server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

namespace
{

constexpr auto StartTimeout = std::chrono::seconds(60);
constexpr auto StopGrace = std::chrono::seconds(5);
// The calls Bootstrap() makes before it holds a key: CreateUser, CreateAccessKey, PutUserPolicy.
// The server authenticates every request after them.
constexpr int UnauthenticatedBootstrapCalls = 3;
constexpr const char* AddressPrefix = "Running on http://127.0.0.1:";

std::string ReadWhole(const std::string& Path)
{
	std::ifstream File(Path, std::ios::binary);
	std::ostringstream Text;
	Text << File.rdbuf();
	return Text.str();
}

// The Python that runs moto: the interpreter its launcher names when the launcher is a Python
// script, else python3 on the PATH (a pyenv or venv shim runs the right one).
std::string MotoPython(const std::string& Launcher)
{
	std::ifstream File(Launcher);
	std::string First;
	std::getline(File, First);
	if (First.rfind("#!", 0) == 0 && First.find("python") != std::string::npos)
	{
		std::string Interpreter = First.substr(2);
		Interpreter.erase(0, Interpreter.find_first_not_of(' '));
		Interpreter = Interpreter.substr(0, Interpreter.find(' '));
		if (IsExecutableFile(Interpreter))
		{
			return Interpreter;
		}
	}
	return FindProgram("python3");
}

// An application/x-www-form-urlencoded body: blanks as "+", everything else but A-Z a-z 0-9
// - . _ ~ as %XX. The store hashes the form it parsed, re-encoded this way, so no other spelling
// of the same form would verify.
std::string FormBody(const AwsSigV4::FNameValueList& Form)
{
	std::string Encoded = AwsSigV4::EncodeQuery(Form);
	std::string Out;
	Out.reserve(Encoded.size());
	for (size_t I = 0; I < Encoded.size(); ++I)
	{
		if (Encoded.compare(I, 3, "%20") == 0)
		{
			Out.push_back('+');
			I += 2;
		}
		else
		{
			Out.push_back(Encoded[I]);
		}
	}
	return Out;
}

} // namespace

std::string FLocalS3Server::FResponse::Header(const std::string& Name) const
{
	std::string Lower = Name;
	for (char& C : Lower)
	{
		C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
	}
	const auto It = Headers.find(Lower);
	return It == Headers.end() ? std::string() : It->second;
}

FLocalS3Server::~FLocalS3Server()
{
	Stop();
	if (!LogPath.empty())
	{
		::unlink(LogPath.c_str());
		::unlink(ClockPath.c_str());
	}
}

FLocalS3Server::FClockShift::FClockShift(const FLocalS3Server& InServer, long long Seconds)
    : Server(InServer)
{
	std::ofstream(Server.ClockPath, std::ios::trunc) << Seconds;
}

FLocalS3Server::FClockShift::~FClockShift()
{
	std::ofstream(Server.ClockPath, std::ios::trunc) << 0;
}

std::string FLocalS3Server::ServerCommand()
{
	const char* Override = std::getenv("ORVA_MOTO_SERVER");
	return (Override != nullptr && *Override != '\0') ? std::string(Override) : std::string("moto_server");
}

bool FLocalS3Server::IsAvailable()
{
	if (!FindProgram(ServerCommand()).empty())
	{
		return true;
	}
	// On CI the store is installed by the scripts: a store test that skips there would let a green run
	// hide that nothing was uploaded. Elsewhere a machine without moto skips these tests.
	const char* Ci = std::getenv("CI");
	if (Ci != nullptr && std::string_view(Ci) == "true")
	{
		ADD_FAILURE() << ServerCommand() << " is not installed, and CI=true requires the local store";
	}
	return false;
}

std::string FLocalS3Server::Endpoint() const
{
	return "http://127.0.0.1:" + std::to_string(ServerPort);
}

std::string FLocalS3Server::LogText() const
{
	return LogPath.empty() ? std::string() : ReadWhole(LogPath);
}

std::string FLocalS3Server::Start(EAuthentication Authentication)
{
	if (Process.IsRunning())
	{
		return {};
	}
	const std::string Program = FindProgram(ServerCommand());
	if (Program.empty())
	{
		return "cannot find " + ServerCommand() + " (install moto[server], see scripts/install-deps.sh)";
	}
	const char* TempBase = std::getenv("TMPDIR");
	std::string Template =
	    std::string(TempBase != nullptr && *TempBase != '\0' ? TempBase : "/tmp") + "/OrvaLocalS3-XXXXXX";
	const int LogFd = ::mkstemp(Template.data());
	if (LogFd < 0)
	{
		return "cannot create the server's log file";
	}
	::close(LogFd);
	LogPath = Template;
	ClockPath = LogPath + ".clock";

	std::vector<std::string> Arguments = {Program, "-H", "127.0.0.1", "-p", "0"};
	// moto leaves out checks of the store the plugin talks to (a body against its "Content-MD5",
	// policy conditions, session policies, the read of a copy's source); scripts/local_s3_store.py
	// runs moto with them added. An explicit ORVA_MOTO_SERVER runs as given.
	const std::string Script = ORVA_LOCAL_S3_STORE_SCRIPT;
	const std::string Python = MotoPython(Program);
	if (ServerCommand() == "moto_server" && !Python.empty() && ::access(Script.c_str(), R_OK) == 0)
	{
		Arguments = {Python, Script, "-H", "127.0.0.1", "-p", "0"};
	}
	std::vector<std::string> Set = {"PYTHONUNBUFFERED=1", "ORVA_LOCAL_STORE_CLOCK_OFFSET_FILE=" + ClockPath};
	if (Authentication == EAuthentication::Enforced)
	{
		Set.push_back("INITIAL_NO_AUTH_ACTION_COUNT=" + std::to_string(UnauthenticatedBootstrapCalls));
	}
	if (std::string Problem =
	        Process.Start(Arguments, LogPath, {}, Set, {"INITIAL_NO_AUTH_ACTION_COUNT", "TEST_SERVER_MODE"});
	    !Problem.empty())
	{
		return Problem;
	}
	const std::string Line = Process.WaitForLine(AddressPrefix, StartTimeout);
	if (Line.empty())
	{
		const bool bExited = !Process.IsRunning();
		Stop();
		return (bExited ? "the store exited at start: " : "the store printed no address: ") + LogText();
	}
	ServerPort = std::atoi(Line.c_str() + Line.find(AddressPrefix) + std::strlen(AddressPrefix));
	std::string Problem = Bootstrap();
	if (!Problem.empty())
	{
		Stop();
	}
	return Problem;
}

void FLocalS3Server::Stop()
{
	Process.Stop(SIGTERM, StopGrace);
}

std::string FLocalS3Server::Bootstrap()
{
	// Any key will do for the calls before authentication starts; they must carry a credential
	// scope all the same, which is how the server tells IAM from S3.
	const AwsSigV4::FCredentials Nobody{"AKIAORVABOOTSTRAP000", "bootstrap-secret", ""};
	const std::string User = "orva-admin";
	auto Iam = [&](const std::string& Name, const AwsSigV4::FNameValueList& Parameters)
	{
		AwsSigV4::FNameValueList Form = {{"Action", Name}, {"Version", "2010-05-08"}};
		Form.insert(Form.end(), Parameters.begin(), Parameters.end());
		return Call("iam", "POST", "/", {}, FormBody(Form), Nobody,
		            {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}});
	};
	const FResponse CreatedUser = Iam("CreateUser", {{"UserName", User}});
	if (CreatedUser.Status != 200)
	{
		return "CreateUser failed: " + std::to_string(CreatedUser.Status) + " " + CreatedUser.Body;
	}
	AdminUserArn = XmlText(CreatedUser.Body, "Arn");
	const size_t AccountStart = AdminUserArn.find("::");
	Account = AccountStart == std::string::npos ? std::string() : AdminUserArn.substr(AccountStart + 2, 12);
	const FResponse CreatedKey = Iam("CreateAccessKey", {{"UserName", User}});
	Admin.AccessKeyId = XmlText(CreatedKey.Body, "AccessKeyId");
	Admin.SecretAccessKey = XmlText(CreatedKey.Body, "SecretAccessKey");
	if (CreatedKey.Status != 200 || Admin.AccessKeyId.empty() || Admin.SecretAccessKey.empty())
	{
		return "CreateAccessKey failed: " + CreatedKey.Body;
	}
	const FResponse Policy =
	    Iam("PutUserPolicy",
	        {{"UserName", User},
	         {"PolicyName", "everything"},
	         {"PolicyDocument",
	          R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":"*","Resource":"*"}]})"}});
	if (Policy.Status != 200)
	{
		return "PutUserPolicy failed: " + Policy.Body;
	}
	return {};
}

FLocalS3Server::FResponse FLocalS3Server::Call(const std::string& Service, const std::string& Method,
                                               const std::string& Path, const AwsSigV4::FNameValueList& Query,
                                               const std::string& Body, const AwsSigV4::FCredentials& Credentials,
                                               const AwsSigV4::FNameValueList& ExtraHeaders) const
{
	AwsSigV4::FRequest Request;
	Request.Method = Method;
	Request.Path = Path;
	Request.Query = Query;
	Request.Headers = {{"Host", "127.0.0.1:" + std::to_string(ServerPort)}};
	Request.Headers.insert(Request.Headers.end(), ExtraHeaders.begin(), ExtraHeaders.end());
	Request.PayloadHash = AwsSigV4::Sha256Hex(Body);
	AwsSigV4::Sign(Request, Credentials, {Region, Service},
	               AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()));

	httplib::Request Http;
	Http.method = Method;
	Http.path = AwsSigV4::UriEncode(Path, true);
	if (!Query.empty())
	{
		Http.path += "?" + AwsSigV4::EncodeQuery(Query);
	}
	for (const auto& [Name, Value] : Request.Headers)
	{
		Http.headers.emplace(Name, Value);
	}
	Http.body = Body;

	httplib::Client Client("127.0.0.1", ServerPort);
	Client.set_connection_timeout(5, 0);
	Client.set_read_timeout(30, 0);
	Client.set_url_encode(false);
	FResponse Response;
	httplib::Response Answer;
	httplib::Error Error = httplib::Error::Success;
	if (Client.send(Http, Answer, Error))
	{
		Response.Status = Answer.status;
		Response.Body = Answer.body;
		for (const auto& [Name, Value] : Answer.headers)
		{
			std::string Lower = Name;
			for (char& C : Lower)
			{
				C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
			}
			Response.Headers[Lower] = Value;
		}
	}
	return Response;
}

FLocalS3Server::FResponse FLocalS3Server::Action(const std::string& Service, const std::string& Name,
                                                 const std::string& Version,
                                                 const AwsSigV4::FNameValueList& Parameters) const
{
	AwsSigV4::FNameValueList Form = {{"Action", Name}, {"Version", Version}};
	Form.insert(Form.end(), Parameters.begin(), Parameters.end());
	return Call(Service, "POST", "/", {}, FormBody(Form), Admin,
	            {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}});
}

bool FLocalS3Server::CreateBucket(const std::string& Bucket) const
{
	return Call("s3", "PUT", "/" + Bucket, {}, {}, Admin).Status == 200;
}

FLocalS3Server::FResponse FLocalS3Server::GetObject(const std::string& Bucket, const std::string& Key) const
{
	return Call("s3", "GET", "/" + Bucket + "/" + Key, {}, {}, Admin);
}

FLocalS3Server::FResponse FLocalS3Server::HeadObject(const std::string& Bucket, const std::string& Key) const
{
	return Call("s3", "HEAD", "/" + Bucket + "/" + Key, {}, {}, Admin);
}

bool FLocalS3Server::PutObject(const std::string& Bucket, const std::string& Key, const std::string& Bytes) const
{
	return Call("s3", "PUT", "/" + Bucket + "/" + Key, {}, Bytes, Admin).Status == 200;
}

AwsSigV4::FCredentials FLocalS3Server::IssueUploadCredentials(const std::string& Bucket, const std::string& Key,
                                                              int DurationSeconds) const
{
	const std::string RoleName = "orva-upload-" + std::to_string(++RoleCounter);
	const std::string Trust = R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":{"AWS":")" +
	                          AdminUserArn + R"("},"Action":"sts:AssumeRole"}]})";
	// As the service issues them: the one key, and no copies into it (a copy is a PutObject on the
	// target, so put-only credentials could otherwise fill their key with any object they can read).
	const std::string PutOnly =
	    R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":["s3:PutObject","s3:AbortMultipartUpload","s3:ListMultipartUploadParts"],"Resource":"arn:aws:s3:::)" +
	    Bucket + "/" + Key +
	    R"("},{"Effect":"Deny","Action":"s3:PutObject","Resource":"*","Condition":{"Null":{"s3:x-amz-copy-source":"false"}}}]})";
	const FResponse Role =
	    Action("iam", "CreateRole", "2010-05-08", {{"RoleName", RoleName}, {"AssumeRolePolicyDocument", Trust}});
	const std::string RoleArn = XmlText(Role.Body, "Arn");
	if (Role.Status != 200 || RoleArn.empty())
	{
		LastProblem = "CreateRole: " + Role.Body;
		return {};
	}
	const FResponse RolePolicy =
	    Action("iam", "PutRolePolicy", "2010-05-08",
	           {{"RoleName", RoleName}, {"PolicyName", "put-one-key"}, {"PolicyDocument", PutOnly}});
	if (RolePolicy.Status != 200)
	{
		LastProblem = "PutRolePolicy: " + RolePolicy.Body;
		return {};
	}
	const FResponse Assumed = Action("sts", "AssumeRole", "2011-06-15",
	                                 {{"RoleArn", RoleArn},
	                                  {"RoleSessionName", "orva-upload"},
	                                  {"Policy", PutOnly},
	                                  {"DurationSeconds", std::to_string(DurationSeconds)}});
	if (Assumed.Status != 200)
	{
		LastProblem = "AssumeRole: " + Assumed.Body;
		return {};
	}
	return {XmlText(Assumed.Body, "AccessKeyId"), XmlText(Assumed.Body, "SecretAccessKey"),
	        XmlText(Assumed.Body, "SessionToken")};
}

std::string FLocalS3Server::XmlText(const std::string& Xml, const std::string& Name)
{
	QXmlStreamReader Reader(QByteArray::fromStdString(Xml));
	const QString Wanted = QString::fromStdString(Name);
	while (!Reader.atEnd() && !Reader.hasError())
	{
		if (Reader.readNext() == QXmlStreamReader::StartElement && Reader.name() == Wanted)
		{
			return Reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toStdString();
		}
	}
	return {};
}
