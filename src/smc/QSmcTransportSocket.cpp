#include "smc/QSmcTransportSocket.h"

QSmcTransportSocket::QSmcTransportSocket(const QString& socketPath, int nTimeoutMsecs)
    : m_SocketPath(socketPath), m_Client(socketPath.toLocal8Bit().toStdString(), nTimeoutMsecs)
{}

QString QSmcTransportSocket::machineModel()
{
    std::string model;
    return m_Client.model(&model) ? QString::fromStdString(model) : QString();
}

QString QSmcTransportSocket::queryModel(const QString& socketPath, int nTimeoutMsecs,
                                        QString* pError)
{
    std::string error;
    const std::string model =
        QSmcSocketClient::queryModel(socketPath.toLocal8Bit().toStdString(), nTimeoutMsecs, &error);
    if (pError && model.empty() && !error.empty())
        *pError = QString::fromLocal8Bit(error.c_str());
    return QString::fromStdString(model);
}

QString QSmcTransportSocket::socketPathFromEnvironment()
{
    return qEnvironmentVariable("THERMORA_SMC_SOCKET");
}
