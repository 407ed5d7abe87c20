#include "AwsS3Client.h"

#include "GameThread.h"

UAwsS3ClientObject* UAwsS3ClientObject::CreateAwsS3ObjClient(const FAwsCredentials& Credentials,
                                                             const FS3ClientConfiguration& Configuration,
                                                             EAwsS3PayloadSigningPolicy PayloadSigningPolicy)
{
	auto* Client = new UAwsS3ClientObject();
	Client->Credentials = Credentials;
	Client->Configuration = Configuration;
	Client->PayloadSigningPolicy = PayloadSigningPolicy;
	return Client;
}

void UAwsS3ClientObject::BindOnClientReady(QObject* Context, FOnClientReady Delegate)
{
	ReadyContext = Context;
	ReadyDelegate = std::move(Delegate);
}

void UAwsS3ClientObject::Activate()
{
	if (bActive || bDestroying)
	{
		return;
	}
	bActive = true;
	// Later, never from inside Activate: the caller may still be setting things up.
	FGameThread::Post(this,
	                  [this]
	                  {
		                  if (bDestroying || !ReadyDelegate || !ReadyContext)
		                  {
			                  return;
		                  }
		                  FOnClientReady Delegate = ReadyDelegate;
		                  Delegate(this);
	                  });
}

void UAwsS3ClientObject::DestroyS3Object()
{
	if (bDestroying)
	{
		return;
	}
	bDestroying = true;
	ReadyDelegate = nullptr;
	deleteLater();
}
