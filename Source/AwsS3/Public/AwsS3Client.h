#pragma once

#include "AwsS3Types.h"
#include "Log.h"

#include <QObject>
#include <QPointer>

#include <functional>

inline constexpr FLogCategory LogAwsS3{"LogAwsS3"};

// The S3 client object: credentials, addressing and signing policy for the actions that use it.
// It owns itself from CreateAwsS3ObjClient until DestroyS3Object, which releases it with
// deleteLater(). Main thread only.
class UAwsS3ClientObject : public QObject
{
	Q_OBJECT

public:
	// Single-cast: binding again replaces the previous binding.
	using FOnClientReady = std::function<void(UAwsS3ClientObject* Client)>;

	static UAwsS3ClientObject* CreateAwsS3ObjClient(const FAwsCredentials& Credentials,
	                                                const FS3ClientConfiguration& Configuration,
	                                                EAwsS3PayloadSigningPolicy PayloadSigningPolicy);

	// The ready delegate, bound weakly: dropped when Context is destroyed first.
	void BindOnClientReady(QObject* Context, FOnClientReady Delegate);
	// Starts the client. The ready delegate runs once, later on the main thread. A client whose
	// settings cannot address the store is ready all the same: its actions fail with
	// ES3Errors::InvalidConfiguration and say why, so no caller waits for an event that never comes.
	Q_INVOKABLE void Activate();
	Q_INVOKABLE void DestroyS3Object();

	bool IsActive() const { return bActive; }
	const FAwsCredentials& GetCredentials() const { return Credentials; }
	const FS3ClientConfiguration& GetConfiguration() const { return Configuration; }
	EAwsS3PayloadSigningPolicy GetPayloadSigningPolicy() const { return PayloadSigningPolicy; }

private:
	UAwsS3ClientObject() = default;
	~UAwsS3ClientObject() override = default;

	FAwsCredentials Credentials;
	FS3ClientConfiguration Configuration;
	EAwsS3PayloadSigningPolicy PayloadSigningPolicy = EAwsS3PayloadSigningPolicy::RequestDependent;
	QPointer<QObject> ReadyContext;
	FOnClientReady ReadyDelegate;
	bool bActive = false;
	bool bDestroying = false;
};
