#pragma once
// One slot of the device grid: which USB port its board sits on, where the
// burn stands, and a progress bar. It carries the facts the burn tab records
// when the result arrives (port, image name, start time).

#include <QDateTime>
#include <QWidget>

class QLabel;
class QProgressBar;

class ZelDevice : public QWidget
{
    Q_OBJECT
public:
    enum State { Disconnected = 1, Linked, Burning, WaitingReboot, Succeeded, Failed };

    // "设备" and the 1-based slot number, two digits below 10.
    static QString slotName(int number);

    explicit ZelDevice(const QString &name, QWidget *parent = nullptr);

    // Any number is stored; only the six states change the look.
    void setState(int state);
    int state() const;
    void setPresent(bool present);
    bool isPresent() const;
    void setPortText(const QString &port);
    QString portText() const;
    void setImageName(const QString &name);
    QString imageName() const;
    void markStart();
    QDateTime startTime() const;
    void setProgress(int percent);
    // Empties port and image name and shows the slot as disconnected.
    void reset();

private:
    void setResult(const QString &text, const QString &style);
    void showLink(bool linked);
    void clearProgress();

    QLabel *m_linkIcon;
    QLabel *m_usbPort;
    QLabel *m_resultText;
    QProgressBar *m_progressBar;
    QString m_portText;
    QString m_imageName;
    int m_state = Disconnected;
    bool m_present = true;
    QDateTime m_startTime;
};
