#pragma once
// The update check: asks the release service for the latest version of an
// application, compares it with the running one and tells the operator.
//
// Request: GET <service url>?app_id=<id>
// Reply:   200 with a JSON object {"version_no": "major.minor.patch", "download_url": "..."};
//          download_url is optional.

#include <QObject>
#include <QUrl>

#include <array>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

class ZelVersionTool : public QObject
{
    Q_OBJECT
public:
    enum Outcome { UpToDate, NewerAvailable, Unreachable, InvalidReply };
    Q_ENUM(Outcome)

    // The alerts are shown over parent.
    explicit ZelVersionTool(QWidget *parent);

    static QUrl defaultServiceUrl();
    void setServiceUrl(const QUrl &url);
    void setAppId(int appId);
    void setCurVersion(int major, int minor, int patch);
    // Starts one check; a click while a check is under way is ignored.
    void checkLastVersion();

signals:
    // Emitted right before the alert with the same message is shown.
    void checkFinished(ZelVersionTool::Outcome outcome, const QString &message);

private:
    void onReplyFinished();
    Outcome evaluate(const QByteArray &body, QString *message) const;

    QWidget *m_window;
    QNetworkAccessManager *m_network;
    QNetworkReply *m_reply = nullptr;
    QUrl m_serviceUrl;
    int m_appId = 0;
    // QVersionNumber is avoided: g++ 12 at -O2 miscompiles its inline storage.
    std::array<int, 3> m_current{};
};
