#include "GameThread.h"
#include "Http.h"
#include "TestProcess.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A server whose certificate no authority signed must not get the request: certificates are
// verified, and a failed check is a failed request.
TEST(HttpTls, SelfSignedCertificateIsRefused)
{
	if (!QSslSocket::supportsSsl())
	{
		GTEST_SKIP() << "no TLS backend";
	}
	QTemporaryDir Dir;
	const QString Key = Dir.filePath(QStringLiteral("key.pem"));
	const QString Cert = Dir.filePath(QStringLiteral("cert.pem"));
	const FProgramRun OpenSsl =
	    RunProgram(ProgramLine(QStringLiteral("openssl"),
	                           {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
	                            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), Key,
	                            QStringLiteral("-out"), Cert, QStringLiteral("-days"), QStringLiteral("1"),
	                            QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}),
	               std::chrono::seconds(30));
	ASSERT_TRUE(OpenSsl.bEnded);
	ASSERT_EQ(OpenSsl.ExitCode, 0) << OpenSsl.Error;

	QFile KeyFile(Key);
	QFile CertFile(Cert);
	ASSERT_TRUE(KeyFile.open(QIODevice::ReadOnly));
	ASSERT_TRUE(CertFile.open(QIODevice::ReadOnly));
	QSslConfiguration Config = QSslConfiguration::defaultConfiguration();
	Config.setPrivateKey(QSslKey(KeyFile.readAll(), QSsl::Rsa));
	Config.setLocalCertificate(QSslCertificate(CertFile.readAll()));
	QSslServer Server;
	Server.setSslConfiguration(Config);
	ASSERT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
	bool bRequestArrived = false;
	QObject::connect(&Server, &QSslServer::pendingConnectionAvailable, &Server,
	                 [&]
	                 {
		                 while (QTcpSocket* Socket = Server.nextPendingConnection())
		                 {
			                 QObject::connect(Socket, &QTcpSocket::readyRead, Socket,
			                                  [&bRequestArrived] { bRequestArrived = true; });
		                 }
	                 });

	FHttpModule Http;
	QObject Context;
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetURL(QStringLiteral("https://127.0.0.1:%1/api/v1/me").arg(Server.serverPort()));
	bool bDone = false;
	bool bSuccess = true;
	FHttpResponsePtr Response;
	Request->OnProcessRequestComplete(&Context,
	                                  [&](FHttpRequestPtr, FHttpResponsePtr InResponse, bool bOk)
	                                  {
		                                  bDone = true;
		                                  bSuccess = bOk;
		                                  Response = InResponse;
	                                  });
	Request->ProcessRequest();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return bDone; }, 10000));
	EXPECT_FALSE(bSuccess);
	EXPECT_FALSE(Response);
	EXPECT_FALSE(bRequestArrived);
}
