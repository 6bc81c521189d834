#include "zel_version_tool.h"

#include "zel_dialog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

// A release record is a few dozen bytes; anything far larger is not our service.
static constexpr qint64 kMaxReplyBytes = 64 * 1024;
static constexpr int kTimeoutMs = 8000;

ZelVersionTool::ZelVersionTool(QWidget *parent)
    : QObject(parent), m_window(parent), m_network(new QNetworkAccessManager(this)),
      m_serviceUrl(defaultServiceUrl())
{
    // Lets receivers queue or record the outcome.
    qRegisterMetaType<ZelVersionTool::Outcome>();
}

QUrl ZelVersionTool::defaultServiceUrl()
{
    return QUrl(QStringLiteral("http://update.zelkora.invalid:8080/api/last_version"));
}

void ZelVersionTool::setServiceUrl(const QUrl &url)
{
    m_serviceUrl = url;
}

void ZelVersionTool::setAppId(int appId)
{
    m_appId = appId;
}

void ZelVersionTool::setCurVersion(int major, int minor, int patch)
{
    m_current = {major, minor, patch};
}

void ZelVersionTool::checkLastVersion()
{
    if (m_reply)
        return;
    QUrl url = m_serviceUrl;
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("app_id"), QString::number(m_appId));
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    qDebug() << "Check the latest version at" << url.toString();
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &ZelVersionTool::onReplyFinished);
}

void ZelVersionTool::onReplyFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();

    Outcome outcome;
    QString message;
    // Without a status line the service was never reached; any other failure is its answer.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        qWarning() << "Version check failed:" << reply->errorString();
        outcome = Unreachable;
        message = QStringLiteral("无法连接版本服务器，请检查网络后重试");
    } else if (status.toInt() != 200 || reply->bytesAvailable() > kMaxReplyBytes) {
        qWarning() << "Version service answered" << status.toInt() << reply->errorString();
        outcome = InvalidReply;
        message = QStringLiteral("版本服务器返回的信息无效，请稍后重试");
    } else {
        outcome = evaluate(reply->readAll(), &message);
    }
    emit checkFinished(outcome, message);
    ZelDialog::alert(m_window, message, false);
}

// "major.minor.patch" with decimal numbers only; false for anything else.
static bool parseVersion(const QString &text, std::array<int, 3> *version)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        (*version)[i] = parts[i].toInt(&ok);
        if (!ok || (*version)[i] < 0 || parts[i].startsWith(QLatin1Char('+')))
            return false;
    }
    return true;
}

static QString versionText(const std::array<int, 3> &version)
{
    return QStringLiteral("%1.%2.%3").arg(version[0]).arg(version[1]).arg(version[2]);
}

ZelVersionTool::Outcome ZelVersionTool::evaluate(const QByteArray &body, QString *message) const
{
    const QJsonObject release = QJsonDocument::fromJson(body).object();
    std::array<int, 3> latest{};
    if (!parseVersion(release.value(QStringLiteral("version_no")).toString(), &latest)) {
        *message = QStringLiteral("版本服务器返回的信息无效，请稍后重试");
        return InvalidReply;
    }
    if (latest <= m_current) {
        *message = QStringLiteral("当前已是最新版本 v%1").arg(versionText(m_current));
        return UpToDate;
    }
    *message = QStringLiteral("发现新版本 v%1（当前版本 v%2）")
                   .arg(versionText(latest), versionText(m_current));
    const QString download = release.value(QStringLiteral("download_url")).toString();
    if (!download.isEmpty())
        *message += QStringLiteral("，下载地址：") + download;
    return NewerAvailable;
}
