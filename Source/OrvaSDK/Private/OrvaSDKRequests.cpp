// The web requests of the SDK subsystem: login, profile and the world catalogue. Each request is a
// method pair: the request, and its answer handler named after it with "_ResponseReceived".

#include "OrvaSDKSubsystem.h"

#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "OrvaDataCacheSubsystem.h"
#include "Text.h"

#include <QSet>
#include <QUrl>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{
using FJob = FOrvaServiceJob;

// The world patches' answers are only logged: a missing answer as an error, status 200 as success.
void LogPatchAnswer(const FHttpResponsePtr& Response, const QString& Label, const QString& SuccessLine)
{
	if (!Response)
	{
		FJob::LogNoAnswer(Label);
		return;
	}
	if (Response->GetResponseCode() == 200)
	{
		UE_LOG(LogTemp, Warning, SuccessLine);
	}
}

// A condensed object of one key.
template <class T>
QString OneKeyObject(const QString& Key, const T& Value)
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(Key, Value);
	Writer.WriteObjectEnd();
	return Writer.Close();
}

FOrvaImageDataPtr ReadImage(const QJsonObject& Object)
{
	auto Image = std::make_shared<FOrvaImageData>();
	FJson::TryGetString(Object, QStringLiteral("name"), Image->Name);
	FJson::TryGetString(Object, QStringLiteral("url"), Image->Url);
	FJson::TryGetString(Object, QStringLiteral("id"), Image->Id);
	FJson::TryGetInt64(Object, QStringLiteral("size"), Image->Size);
	return Image;
}
} // namespace

void UOrvaSDKSubsystem::Login(QString User, QString Pwd)
{
	const QString AccountKey = User.contains(QLatin1Char('@')) ? QStringLiteral("email") : QStringLiteral("phone");
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(AccountKey, User);
	Writer.WriteValue(QStringLiteral("grant_type"), QStringLiteral("password"));
	Writer.WriteValue(QStringLiteral("guest_token"), QStringLiteral("string"));
	Writer.WriteValue(QStringLiteral("password"), Pwd);
	Writer.WriteObjectEnd();

	FOrvaServiceJob Job = ServiceJob(QStringLiteral("POST"), QStringLiteral("auth/token"), true, false);
	Job.SetQuery(QStringLiteral("role=creator")).SetJsonBody(Writer.Close()).SetLabel(QStringLiteral("Login"));
	UserEmailOrPhone = User;
	bLoginInFlight = true;
	SendServiceJob(Job, &UOrvaSDKSubsystem::Login_ResponseReceived);
}

void UOrvaSDKSubsystem::FailLogin(const QString& Cause)
{
	bLoginInFlight = false;
	LastLoginError = Cause;
	Q_EMIT OnOrvaSDKLogin(false);
	Q_EMIT OnLoginStateChanged(false);
}

QString UOrvaSDKSubsystem::DescribeServiceFailure(const FHttpResponsePtr& Response) const
{
	if (!Response)
	{
		const QUrl Url(ServiceBaseUrl);
		const QString Address = Url.isValid() && !Url.host().isEmpty()
		                            ? Url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString()
		                            : ServiceBaseUrl;
		return LOCTEXT("ServiceUnreachable", "cannot reach the service at %1").ToString().arg(Address);
	}
	// The service says what it refused in "detail"; other services say it in "message".
	QString Detail;
	if (const std::optional<QJsonObject> Answer = FJson::ParseObject(QString::fromUtf8(Response->GetContent())))
	{
		if (!FJson::TryGetString(*Answer, QStringLiteral("detail"), Detail))
		{
			FJson::TryGetString(*Answer, QStringLiteral("message"), Detail);
		}
	}
	// An answer of any length could come back: the creator reads a line of it.
	Detail = Detail.simplified().left(300);
	if (Detail.isEmpty())
	{
		return LOCTEXT("ServiceStatus", "the service answered %1").ToString().arg(Response->GetResponseCode());
	}
	return LOCTEXT("ServiceStatusDetail", "the service answered %1: %2")
	    .ToString()
	    .arg(Response->GetResponseCode())
	    .arg(Detail);
}

void UOrvaSDKSubsystem::Login_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		FJob::LogNoAnswer(QStringLiteral("Login"));
		FailLogin(DescribeServiceFailure(Response));
		return;
	}
	// The status is not examined: a body that carries a token is a successful login.
	const std::optional<QJsonObject> Answer = FJob::ReadObject(Response, QStringLiteral("Login"));
	if (Answer)
	{
		const QString Token = FJson::GetString(*Answer, QStringLiteral("access_token"));
		// The token goes into the headers of every later request and into the settings file: one
		// that could break a header line, or is absurdly long, is no login.
		if (!Token.isEmpty() && !IsPlainBearerToken(Token))
		{
			UE_LOG(LogTemp, Error, QStringLiteral("Login: refused an access token that is not a plain bearer token"));
			bIsLoggedin = false;
			FailLogin(LOCTEXT("UnusableToken", "the service answered with a token that cannot be used").ToString());
			return;
		}
		bIsLoggedin = !Token.isEmpty();
		if (!Token.isEmpty())
		{
			AccessToken = QStringLiteral("Bearer ") + Token;
			UE_LOG(LogTemp, Warning, QStringLiteral("Token is %1").arg(FJob::MaskToken(Token)));
			// The profile answer decides and fires the login events.
			GetUserInfo();
			return;
		}
	}
	FJob::LogUnreadable(QStringLiteral("Login"));
	// No token: the service refused the account or password (its status and message say so).
	FailLogin(DescribeServiceFailure(Response));
}

void UOrvaSDKSubsystem::GetUserInfo()
{
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("GET"), QStringLiteral("me"), true, true);
	SendServiceJob(Job.SetLabel(QStringLiteral("GetUserInfo")), &UOrvaSDKSubsystem::GetUserInfo_ResponseReceived);
}

void UOrvaSDKSubsystem::GetUserInfo_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	// A profile asked for by a login decides it: a refusal then is a failed login the form shows.
	const bool bDecidesLogin = bLoginInFlight;
	if (!Response)
	{
		FJob::LogNoAnswer(QStringLiteral("GetUserInfo"));
		if (bDecidesLogin)
		{
			FailLogin(DescribeServiceFailure(Response));
		}
		return;
	}
	if (Response->GetResponseCode() != 200)
	{
		bIsLoggedin = false;
		if (bDecidesLogin)
		{
			FailLogin(DescribeServiceFailure(Response));
		}
		return;
	}
	const std::optional<QJsonObject> Answer = FJob::ReadObject(Response, QStringLiteral("GetUserInfo"));
	if (!Answer)
	{
		FJob::LogUnreadable(QStringLiteral("GetUserInfo"));
		if (bDecidesLogin)
		{
			FailLogin(
			    LOCTEXT("UnreadableProfile", "the service's answer to the profile request cannot be read").ToString());
		}
		return;
	}
	bLoginInFlight = false;
	LastLoginError.clear();
	FJson::TryGetString(*Answer, QStringLiteral("display_name"), UserInfo.DisplayName);
	FJson::TryGetString(*Answer, QStringLiteral("email"), UserInfo.Email);
	UserInfo.bIsCreator = FJson::GetBool(*Answer, QStringLiteral("is_creator"));
	bIsLoggedin = true;
	Q_EMIT OnOrvaSDKLogin(true);
	Q_EMIT OnLoginStateChanged(true);
}

void UOrvaSDKSubsystem::GetWorldsList()
{
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->CleanWorldData();
	}
	const quint64 Generation = ++WorldsListGeneration;
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("GET"), QStringLiteral("me/worlds"), true, true);
	// Overlapping list requests: an answer that a later request has superseded is dropped, so the
	// cached list never holds a world twice.
	Job.SetLabel(QStringLiteral("GetWorldsList"))
	    .Send(this,
	          [this, Generation](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	          {
		          if (Generation != WorldsListGeneration)
		          {
			          UE_LOG(LogTemp, Display,
			                 QStringLiteral("GetWorldsList: dropped an answer to an earlier request"));
			          return;
		          }
		          GetWorldsList_ResponseReceived(Req, Resp, bOk);
	          });
}

void UOrvaSDKSubsystem::GetWorldsList_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		FJob::LogNoAnswer(QStringLiteral("GetWorldsList"));
		Q_EMIT OnServiceRequestFailed(LOCTEXT("WhatWorldsList", "Listing your worlds").ToString(),
		                              DescribeServiceFailure(Response));
		return;
	}
	const std::optional<QJsonArray> Worlds = FJob::ReadArray(Response, QStringLiteral("GetWorldsList"));
	if (!Worlds)
	{
		if (!FJob::IsSuccess(Response))
		{
			Q_EMIT OnServiceRequestFailed(LOCTEXT("WhatWorldsList", "Listing your worlds").ToString(),
			                              DescribeServiceFailure(Response));
		}
		return;
	}
	UOrvaDataCacheSubsystem* Cache = GetDataCache();
	if (!Cache)
	{
		return;
	}
	QSet<QString> SeenIdentifiers;
	for (const auto& Element : *Worlds)
	{
		if (!Element.isObject())
		{
			continue;
		}
		const QJsonObject Object = Element.toObject();
		auto World = std::make_shared<FOrvaWorldData>();
		World->Identifier = FJson::GetString(Object, QStringLiteral("identifier"));
		World->Name = FJson::GetString(Object, QStringLiteral("name"));
		World->Description = FJson::GetString(Object, QStringLiteral("description"));
		World->Capacity = FJson::GetInt32(Object, QStringLiteral("capacity"));
		World->bIsPublic = !FJson::GetBool(Object, QStringLiteral("private"));
		World->Activities = FJson::GetInt32(Object, QStringLiteral("activitys"));
		World->Likes = FJson::GetInt32(Object, QStringLiteral("likes"));
		World->LastUpdate = FJson::GetString(Object, QStringLiteral("last_update"));
		World->Id = FJson::GetString(Object, QStringLiteral("id"));
		if (const std::optional<QJsonObject> Image = FJson::GetObject(Object, QStringLiteral("image")))
		{
			World->TitleImage = ReadImage(*Image);
		}
		// The identifier names a folder and the id goes into addresses: a world whose keys could
		// escape either is refused; the rest of the list is kept.
		if (!IsSafeIdentifier(World->Identifier) || !IsSafeIdentifier(World->Id))
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("GetWorldsList: refused a world with identifier \"%1\" and id \"%2\"")
			           .arg(World->Identifier, World->Id));
			continue;
		}
		// Workspace records (and folders, on the engine's file systems) are found by identifier
		// ignoring case: a second world whose identifier differs from an earlier one only in case
		// would share the first one's record and edit the wrong world. The first is kept.
		const QString Folded = World->Identifier.toCaseFolded();
		const FWorkspaceDataPtr Known = Cache->GetWorkspace(World->Identifier);
		if (SeenIdentifiers.contains(Folded) || (Known && Known->WorldIdentifier != World->Identifier))
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("GetWorldsList: refused the world \"%1\" (id \"%2\"): its identifier equals another "
			                      "world's ignoring case")
			           .arg(World->Identifier, World->Id));
			continue;
		}
		SeenIdentifiers.insert(Folded);
		Cache->AddWorldData(World);
		// The privacy the service holds wins over what a workspace record remembered.
		if (const FWorkspaceDataPtr Workspace = Cache->GetWorkspace(World->Identifier))
		{
			Workspace->bIsPublic = World->bIsPublic;
		}
		if (CurrWorkspace.WorldId == World->Id && !World->Id.isEmpty())
		{
			CurrWorkspace.bIsPublic = World->bIsPublic;
		}
	}
	Q_EMIT OnWorldsListUpdated();
}

void UOrvaSDKSubsystem::NewWorld()
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("description"), QString());
	Writer.WriteValue(QStringLiteral("name"), QStringLiteral("NewWorld"));
	Writer.WriteValue(QStringLiteral("public"), false);
	Writer.WriteObjectEnd();
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("POST"), QStringLiteral("me/worlds"), true, true);
	Job.SetJsonBody(Writer.Close()).SetLabel(QStringLiteral("NewWorld"));
	SendServiceJob(Job, &UOrvaSDKSubsystem::NewWorld_ResponseReceived);
}

void UOrvaSDKSubsystem::NewWorld_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	const QString What = LOCTEXT("WhatNewWorld", "Creating a world").ToString();
	if (!Response)
	{
		FJob::LogNoAnswer(QStringLiteral("NewWorld"));
		Q_EMIT OnServiceRequestFailed(What, DescribeServiceFailure(Response));
		return;
	}
	const std::optional<QJsonObject> Answer = FJob::ReadObject(Response, QStringLiteral("NewWorld"));
	if (!Answer)
	{
		FJob::LogUnreadable(QStringLiteral("NewWorld"));
		Q_EMIT OnServiceRequestFailed(What, DescribeServiceFailure(Response));
		return;
	}
	if (!FJob::IsSuccess(Response))
	{
		Q_EMIT OnServiceRequestFailed(What, DescribeServiceFailure(Response));
	}
	const QString Identifier = FJson::GetString(*Answer, QStringLiteral("identifier"));
	if (!Identifier.isEmpty())
	{
		if (IsSafeIdentifier(Identifier) && !FolderTakenByOther(Identifier))
		{
			CreateWorkspaceFolder(Identifier);
			GetWorldsList();
			Q_EMIT OnWorkspaceChanged(CurrWorkspace);
			Q_EMIT OnNewWorkspace();
		}
		else if (!IsSafeIdentifier(Identifier))
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("NewWorld: refused the identifier \"%1\": it cannot name a folder").arg(Identifier));
			// The world exists on the service all the same; the list shows what it holds.
			GetWorldsList();
		}
		else
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("NewWorld: refused the identifier \"%1\": the content folder of that name is no "
			                      "workspace of this world")
			           .arg(Identifier));
			// The world exists on the service all the same; the list shows what it holds.
			GetWorldsList();
		}
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("Identifier is %1").arg(Identifier));
}

void UOrvaSDKSubsystem::DeleteWorld(const QStringList& InWorldIds)
{
	if (InWorldIds.isEmpty())
	{
		return;
	}
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteArrayStart(QStringLiteral("ids"));
	for (const QString& Id : InWorldIds)
	{
		Writer.WriteValue(Id);
	}
	Writer.WriteArrayEnd();
	Writer.WriteObjectEnd();
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("DELETE"), QStringLiteral("me/worlds"), false, true);
	Job.SetJsonBody(Writer.Close()).SetLabel(QStringLiteral("DeleteWorld"));
	Job.Send(this,
	         [this, InWorldIds](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	         {
		         DeletedWorldIds = InWorldIds;
		         DeleteWorld_ResponseReceived(Req, Resp, bOk);
		         DeletedWorldIds.clear();
	         });
}

void UOrvaSDKSubsystem::DeleteWorld_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool bWasSuccessful)
{
	const QString What = LOCTEXT("WhatDeleteWorld", "Deleting a world").ToString();
	if (!Response || !bWasSuccessful)
	{
		FJob::LogNoAnswer(QStringLiteral("DeleteWorld"));
		Q_EMIT OnServiceRequestFailed(What, DescribeServiceFailure(Response));
		return;
	}
	if (Response->GetResponseCode() == 204)
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("Delete World Success"));
		GetWorldsList();
		// The world open in the panel stays open unless it is one of those deleted.
		if (DeletedWorldIds.isEmpty() || DeletedWorldIds.contains(CurrWorkspace.WorldId))
		{
			ClearCurrWorkspace();
		}
	}
	else
	{
		Q_EMIT OnServiceRequestFailed(What, DescribeServiceFailure(Response));
	}
}

void UOrvaSDKSubsystem::PatchCurrentWorld(const QString& Label, const QString& Body, FResponseHandler Handler)
{
	const QString Path = CurrentWorldPath(Label);
	if (Path.isEmpty())
	{
		return;
	}
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("PATCH"), Path, true, true);
	Job.SetJsonBody(Body).SetLabel(Label);
	SendServiceJob(Job, Handler);
}

void UOrvaSDKSubsystem::PatchCurrentWorld(
    const QString& Label, const QString& Body,
    std::function<void(const QString& WorldId, FHttpResponsePtr Response, bool bOk)> Handler)
{
	const QString Path = CurrentWorldPath(Label);
	if (Path.isEmpty())
	{
		return;
	}
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("PATCH"), Path, true, true);
	Job.SetJsonBody(Body).SetLabel(Label);
	Job.Send(this, [WorldId = CurrWorkspace.WorldId, Handler](FHttpRequestPtr, FHttpResponsePtr Resp, bool bOk)
	         { Handler(WorldId, Resp, bOk); });
}

void UOrvaSDKSubsystem::PrivatizeWorld(bool bIsPrivate)
{
	PatchCurrentWorld(QStringLiteral("Privatize World"), OneKeyObject(QStringLiteral("private"), bIsPrivate),
	                  [this, bIsPrivate](const QString& WorldId, FHttpResponsePtr Response, bool bOk)
	                  {
		                  PrivatizeWorld_ResponseReceived(nullptr, Response, bOk);
		                  if (!FJob::IsSuccess(Response) || !bOk)
		                  {
			                  return;
		                  }
		                  // The service holds it now: the records say so too, so the world shows it
		                  // when it is opened again.
		                  if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
		                  {
			                  for (const FOrvaWorldDataPtr& World : Cache->GetWorldList())
			                  {
				                  if (World && World->Id == WorldId)
				                  {
					                  World->bIsPublic = !bIsPrivate;
					                  if (const FWorkspaceDataPtr Workspace = Cache->GetWorkspace(World->Identifier))
					                  {
						                  Workspace->bIsPublic = !bIsPrivate;
					                  }
				                  }
			                  }
		                  }
		                  if (CurrWorkspace.WorldId == WorldId)
		                  {
			                  CurrWorkspace.bIsPublic = !bIsPrivate;
		                  }
		                  Q_EMIT OnWorldSaved(WorldId);
	                  });
}

void UOrvaSDKSubsystem::PrivatizeWorld_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool bWasSuccessful)
{
	if (!Response || !bWasSuccessful)
	{
		FJob::LogNoAnswer(QStringLiteral("Privatize World"));
	}
	if (!Response || !bWasSuccessful || !FJob::IsSuccess(Response))
	{
		Q_EMIT OnServiceRequestFailed(LOCTEXT("WhatPrivacy", "Saving the world's privacy").ToString(),
		                              DescribeServiceFailure(Response));
	}
}

void UOrvaSDKSubsystem::UploadWorldDetials()
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("name"), CurrWorkspace.TitleName);
	Writer.WriteValue(QStringLiteral("description"), CurrWorkspace.Description);
	Writer.WriteObjectEnd();
	PatchCurrentWorld(QStringLiteral("UploadWorldDetials"), Writer.Close(),
	                  [this, Name = CurrWorkspace.TitleName, Description = CurrWorkspace.Description](
	                      const QString& WorldId, FHttpResponsePtr Response, bool bOk)
	                  {
		                  UploadWorldDetials_ResponseReceived(nullptr, Response, bOk);
		                  if (!FJob::IsSuccess(Response))
		                  {
			                  return;
		                  }
		                  // The world's tile names what the service holds.
		                  if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
		                  {
			                  for (const FOrvaWorldDataPtr& World : Cache->GetWorldList())
			                  {
				                  if (World && World->Id == WorldId)
				                  {
					                  World->Name = Name;
					                  World->Description = Description;
				                  }
			                  }
		                  }
		                  Q_EMIT OnWorldSaved(WorldId);
	                  });
}

void UOrvaSDKSubsystem::UploadWorldDetials_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	LogPatchAnswer(Response, QStringLiteral("UploadWorldDetials"), QStringLiteral("UploadWorld Detials Success"));
	if (!FJob::IsSuccess(Response))
	{
		Q_EMIT OnServiceRequestFailed(LOCTEXT("WhatDetails", "Saving the world's name and description").ToString(),
		                              DescribeServiceFailure(Response));
	}
}

void UOrvaSDKSubsystem::SetTitleImage(const QString& InImageId)
{
	PatchCurrentWorld(QStringLiteral("SetTitleImage"), OneKeyObject(QStringLiteral("image_id"), InImageId),
	                  &UOrvaSDKSubsystem::SetTitleImage_ResponseReceived);
}

void UOrvaSDKSubsystem::SetTitleImage_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	LogPatchAnswer(Response, QStringLiteral("SetTitleImage"), QStringLiteral("Set Title Image Success"));
}

void UOrvaSDKSubsystem::GetScreenshots()
{
	const QString Path = CurrentWorldPath(QStringLiteral("GetScreenshots"));
	if (Path.isEmpty())
	{
		return;
	}
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->BeginImageListFetch(Path);
	}
	FOrvaServiceJob Job = ServiceJob(QStringLiteral("GET"), Path + QStringLiteral("/screenshots"), true, true);
	SendServiceJob(Job.SetLabel(QStringLiteral("GetScreenshots")), &UOrvaSDKSubsystem::GetScreenshots_ResponseReceived);
}

void UOrvaSDKSubsystem::GetScreenshots_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		FJob::LogNoAnswer(QStringLiteral("GetScreenshots"));
		return;
	}
	const std::optional<QJsonObject> Answer = FJob::ReadObject(Response, QStringLiteral("GetScreenshots"));
	if (!Answer)
	{
		FJob::LogUnreadable(QStringLiteral("GetScreenshots"));
		return;
	}
	QList<FOrvaImageDataPtr> Images;
	for (const auto& Element : FJson::GetArray(*Answer, QStringLiteral("screen_shots")))
	{
		if (Element.isObject())
		{
			Images.append(ReadImage(Element.toObject()));
		}
	}
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->SetCurrImageList(Images);
		Q_EMIT OnScreenshotsUpdated();
	}
}

#undef LOCTEXT_NAMESPACE
