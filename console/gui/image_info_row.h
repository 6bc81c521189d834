#pragma once
// The row that shows the chosen image's header facts: SoC type, board type,
// version and storage medium.

#include <QWidget>

class QLabel;

class ImageInfoRow : public QWidget
{
    Q_OBJECT
public:
    explicit ImageInfoRow(QWidget *parent = nullptr);

    void setInfo(const QString &socType, const QString &boardType, const QString &version,
                 const QString &storage);

private:
    QLabel *m_socType;
    QLabel *m_boardType;
    QLabel *m_version;
    QLabel *m_storage;
};
