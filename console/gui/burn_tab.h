#pragma once
// The burn page: the image row, the image's facts, the grid of device slots
// and the counters. A view over BurnSession, which makes every decision.

#include "zel_tab.h"

#include <QVector>

class BurnSession;
class CentralHistory;
class ImageInfoRow;
class QLabel;
class QLineEdit;
class QPushButton;
class ZelDevice;

class BurnTab : public ZelTab
{
    Q_OBJECT
public:
    explicit BurnTab(QWidget *parent = nullptr);

    BurnSession *session() const { return m_session; }
    CentralHistory *centralHistory() const { return m_central; }
    // No slot is burning or waiting for its board to restart.
    bool isIdle() const;
    // A device-change notification by its Windows number.
    void handleDeviceChange(int event);
    // One worker report as the worker sent it.
    void handleReport(quint32 kind, const QByteArray &payload);
    // Loads the image at path and burns every slot waiting for one.
    void loadImage(const QString &path);

public slots:
    void refreshCounters();
    void clearPortMapping();

signals:
    // A result was counted, shown and recorded.
    void burnResult();

private:
    QWidget *createImageRow();
    QWidget *createDeviceGrid();
    QWidget *createCounterRow();
    void selectImage();
    void showImage();
    void showImageFileMissing(bool missing);
    void showSlot(int slot);
    void showProgress(int slot);

    BurnSession *m_session;
    QLineEdit *m_imgPath;
    QPushButton *m_selectBtn;
    ImageInfoRow *m_imgInfo;
    QVector<ZelDevice *> m_devices;
    QLabel *m_totalCount;
    QLabel *m_successCount;
    QLabel *m_failCount;
    CentralHistory *m_central;
    QLabel *m_centralState;
};
