#include "image_info_row.h"

#include <QHBoxLayout>
#include <QLabel>

static QLabel *infoLabel(const char *objectName, const QString &caption)
{
    auto *label = new QLabel(caption);
    label->setObjectName(QLatin1String(objectName));
    label->setTextFormat(Qt::RichText);
    return label;
}

// The caption up to its "：" stays; the value comes from the image file, so it is escaped.
static void showValue(QLabel *label, const QString &value)
{
    const QString caption = label->text().section(QStringLiteral("："), 0, 0);
    label->setText(caption + QStringLiteral("：<span style=\"color: #335983;\">") +
                   value.toHtmlEscaped() + QStringLiteral("</span>"));
}

ImageInfoRow::ImageInfoRow(QWidget *parent)
    : QWidget(parent), m_socType(infoLabel("soc_type", QStringLiteral("SoC型号："))),
      m_boardType(infoLabel("board_type", QStringLiteral("板级型号："))),
      m_version(infoLabel("version", QStringLiteral("版本号："))),
      m_storage(infoLabel("storage", QStringLiteral("存储介质：")))
{
    setObjectName(QStringLiteral("img_info"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_socType);
    layout->addWidget(m_boardType);
    layout->addWidget(m_version);
    layout->addWidget(m_storage);
}

void ImageInfoRow::setInfo(const QString &socType, const QString &boardType, const QString &version,
                           const QString &storage)
{
    showValue(m_socType, socType);
    showValue(m_boardType, boardType);
    showValue(m_version, version);
    showValue(m_storage, storage);
}
