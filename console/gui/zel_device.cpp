#include "zel_device.h"

#include "font_awesome.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

static const char kIdleProgressStyle[] =
    "#progress_bar {color: #000; } #progress_bar::chunk {background-color: #36c245;}";
// Past half the bar the percentage sits on the filled part and turns white.
static constexpr int kWhiteTextAbove = 50;

// Setting a style sheet polishes the widget anew, a tenth of a millisecond or
// more each time: slots are shown again at every device change and burn start,
// mostly with the look they already have.
static void restyle(QWidget *widget, const QString &style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

QString ZelDevice::slotName(int number)
{
    return QStringLiteral("设备") + QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

ZelDevice::ZelDevice(const QString &name, QWidget *parent)
    : QWidget(parent), m_linkIcon(new QLabel), m_usbPort(new QLabel), m_resultText(new QLabel),
      m_progressBar(new QProgressBar)
{
    m_linkIcon->setObjectName(QStringLiteral("link_icon"));
    m_linkIcon->setAlignment(Qt::AlignCenter);
    FontAwesome::setLabelIcon(m_linkIcon, FontAwesome::ChainBroken);
    auto *devName = new QLabel(name);
    devName->setObjectName(QStringLiteral("dev_name"));
    devName->setAlignment(Qt::AlignCenter);

    auto *left = new QVBoxLayout;
    left->setContentsMargins(10, 0, 5, 0);
    left->setSpacing(0);
    left->addWidget(m_linkIcon, 1);
    left->addWidget(devName, 0);

    m_usbPort->setObjectName(QStringLiteral("usb_port"));
    m_resultText->setObjectName(QStringLiteral("result_text"));
    m_resultText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *burnInfo = new QWidget;
    burnInfo->setObjectName(QStringLiteral("burn_info"));
    auto *infoLayout = new QHBoxLayout(burnInfo);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->setSpacing(0);
    infoLayout->addWidget(m_usbPort, 0);
    infoLayout->addWidget(m_resultText, 1);

    m_progressBar->setObjectName(QStringLiteral("progress_bar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setOrientation(Qt::Horizontal);
    m_progressBar->setFixedHeight(24);

    auto *right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(5);
    right->addStretch();
    right->addWidget(burnInfo);
    right->addWidget(m_progressBar);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 0);
    layout->addLayout(right, 1);

    reset();
}

void ZelDevice::setState(int state)
{
    m_state = state;
    switch (state) {
    case Disconnected:
        setResult(QStringLiteral("设备未连接"), QStringLiteral("color: #888;"));
        showLink(false);
        m_usbPort->clear();
        clearProgress();
        break;
    case Linked:
        setResult(QStringLiteral("烧写即将开始"), QStringLiteral("color: #2071c7;"));
        showLink(true);
        m_usbPort->setText(QStringLiteral("usb ") + m_portText);
        clearProgress();
        break;
    case Burning:
        setResult(QStringLiteral("正在烧写"), QStringLiteral("color: #ff5722;"));
        break;
    case WaitingReboot:
        setResult(QStringLiteral("等待设备重启"), QStringLiteral("color: purple;"));
        break;
    case Succeeded:
        setResult(QStringLiteral("烧写成功"), QStringLiteral("color: #09983b;"));
        m_progressBar->setValue(m_progressBar->maximum());
        break;
    case Failed:
        setResult(QStringLiteral("烧写失败"), QStringLiteral("color: #de4745;"));
        restyle(m_progressBar,
                m_progressBar->value() <= kWhiteTextAbove
                    ? QStringLiteral("#progress_bar::chunk {background-color: #de4745;}")
                    : QStringLiteral("#progress_bar {color: #fff;} "
                                     "#progress_bar::chunk {background-color: #de4745;}"));
        break;
    default:
        break;
    }
}

int ZelDevice::state() const
{
    return m_state;
}

void ZelDevice::setPresent(bool present)
{
    m_present = present;
}

bool ZelDevice::isPresent() const
{
    return m_present;
}

void ZelDevice::setPortText(const QString &port)
{
    m_portText = port;
}

QString ZelDevice::portText() const
{
    return m_portText;
}

void ZelDevice::setImageName(const QString &name)
{
    m_imageName = name;
}

QString ZelDevice::imageName() const
{
    return m_imageName;
}

void ZelDevice::markStart()
{
    m_startTime = QDateTime::currentDateTime();
}

QDateTime ZelDevice::startTime() const
{
    return m_startTime;
}

void ZelDevice::setProgress(int percent)
{
    // A progress bar repaints itself at once on a new value; let the
    // window paint every bar that changed in one pass instead.
    m_progressBar->setUpdatesEnabled(false);
    m_progressBar->setValue(percent);
    m_progressBar->setUpdatesEnabled(true);
    if (percent > kWhiteTextAbove)
        restyle(m_progressBar, QStringLiteral("#progress_bar {color: #fff;}"));
}

void ZelDevice::reset()
{
    m_portText.clear();
    m_imageName.clear();
    setState(Disconnected);
}

void ZelDevice::setResult(const QString &text, const QString &style)
{
    m_resultText->setText(text);
    restyle(m_resultText, style);
}

void ZelDevice::showLink(bool linked)
{
    const FontAwesome::IconIdentity icon = linked ? FontAwesome::Link : FontAwesome::ChainBroken;
    if (m_linkIcon->text() != FontAwesome::glyph(icon))
        FontAwesome::setLabelIcon(m_linkIcon, icon);
    restyle(m_linkIcon,
            linked ? QStringLiteral("color: #2071c7;") : QStringLiteral("color: #aaa;"));
}

void ZelDevice::clearProgress()
{
    m_progressBar->setValue(0);
    restyle(m_progressBar, QLatin1String(kIdleProgressStyle));
}
