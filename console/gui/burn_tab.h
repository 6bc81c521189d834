#pragma once
// The burn page: the image row, the image's facts, the grid of device slots
// and the counters. A view over BurnSession, which makes every decision.

#include "zel_tab.h"

#include <QSet>
#include <QVector>

struct HistoryRecord;
class BurnSession;
class CentralHistory;
class ImageInfoRow;
class ElidedLabel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class ZelDevice;

class BurnTab : public ZelTab
{
    Q_OBJECT
public:
    explicit BurnTab(QWidget *parent = nullptr);

    BurnSession *session() const { return m_session; }
    CentralHistory *centralHistory() const { return m_central; }
    // No worker of the page runs, whatever its slot shows.
    bool isIdle() const;
    // Binds and burns the boards plugged in before any device change.
    void scanBoards();
    // A device-change notification by its Windows number.
    void handleDeviceChange(int event);
    // One worker report as the worker sent it; senderPid as BurnSession takes it.
    void handleReport(quint32 kind, const QByteArray &payload, qint64 senderPid = 0);
    // Worker reports cannot reach this console: the page burns nothing and says why.
    void refuseBurning(const QString &reason);
    // Loads the image at path and burns every slot waiting for one.
    void loadImage(const QString &path);

public slots:
    void refreshCounters();
    // Zero, and written; false when the settings file refused it.
    bool resetCounters();
    void clearPortMapping();

signals:
    // A burn's row, recorded before its result is shown.
    void historyRecorded(const HistoryRecord &record);
    // A result was recorded, shown and counted.
    void burnResult();
    // Rows the database refused earlier are all stored now.
    void historyStored();

private:
    QWidget *createImageRow();
    QWidget *createDeviceGrid();
    QWidget *createCounterRow();
    void selectImage();
    void showImage();
    void showImageFileMissing(bool missing);
    void showSlot(int slot);
    void showProgress(int slot);
    void paintDueProgress();
    void showRefusedBoards();
    void showRecordNotice(const QString &notice);

    BurnSession *m_session;
    QLineEdit *m_imgPath;
    QPushButton *m_selectBtn;
    ImageInfoRow *m_imgInfo;
    QLabel *m_refused; // boards that cannot be opened, with the reason
    QVector<ZelDevice *> m_devices;
    QLabel *m_totalCount;
    QLabel *m_successCount;
    QLabel *m_failCount;
    QLabel *m_recordNotice;
    CentralHistory *m_central;
    ElidedLabel *m_centralState;
    // Progress reaches the bars ten times a second, not once per report.
    QTimer *m_progressPace;
    QSet<int> m_progressDue;
};
