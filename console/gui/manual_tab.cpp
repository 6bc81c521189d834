#include "manual_tab.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>

static QString picture(const char *resource)
{
    return QStringLiteral("<p><img src=\"%1\"></p>").arg(QLatin1String(resource));
}

static QString item(const QString &text)
{
    return QStringLiteral("<li>") + text + QStringLiteral("</li>");
}

static QString section(const QString &heading, const QStringList &entries)
{
    return QStringLiteral("<h4>") + heading + QStringLiteral("</h4><ul>") +
           entries.join(QString()) + QStringLiteral("</ul>");
}

QString ManualTab::document()
{
    QString html = QStringLiteral("<style>li {margin: 7px; line-height: 22px;}</style>");
    html +=
        section(QStringLiteral("1、选择镜像"),
                {
                    item(QStringLiteral("点击“选择镜像”按钮，选择与待烧写板子相匹配的镜像文件。")),
                    item(QStringLiteral("选择之后，程序会读取镜像并显示镜像的信息。")),
                    picture(":/image/img_info.png"),
                    item(QStringLiteral("请核对SoC型号和板级型号与板子是否一致，"
                                        "型号不符会导致烧写失败。")),
                });
    html +=
        section(QStringLiteral("2、设备烧写"),
                {
                    item(QStringLiteral("用USB线把板子连接到电脑，按住BOOT键，再按一下复位键，"
                                        "板子即进入烧写模式。")),
                    item(QStringLiteral("程序会自动发现板子并开始烧写，无需其他操作。")),
                    item(QStringLiteral("设备列表中第一个空闲的设备位置会显示烧写状态的变化：")),
                    picture(":/image/status_idle.png"),
                    picture(":/image/status_linked.png"),
                    picture(":/image/status_buring.png"),
                    item(QStringLiteral("设备上显示“usb 1:2”，表示板子连接在电脑的USB端口“1:2”上，"
                                        "请记下这个端口。")),
                    item(QStringLiteral("可以同时烧写多块板子，下图是五块板子同时烧写的情形；"
                                        "最多可同时烧写的数量在“系统配置”中设置。")),
                    picture(":/image/devs_burn.png"),
                    item(QStringLiteral("烧写过程中请勿关闭程序，也不要拔出板子。")),
                });
    html +=
        section(QStringLiteral("3、烧写成功"), {
                                                   item(QStringLiteral("烧写成功后即可拔出板子。")),
                                                   picture(":/image/status_success.png"),
                                               });
    html +=
        section(QStringLiteral("4、烧写失败"),
                {
                    item(QStringLiteral("烧写失败后，请让板子重新进入烧写模式，烧写会重新开始。")),
                    picture(":/image/status_fail.png"),
                });
    return html;
}

ManualTab::ManualTab(QWidget *parent) : ZelTab(parent)
{
    setObjectName(QStringLiteral("manual_tab"));
    createMenuEntry(QStringLiteral("使用说明"), FontAwesome::Book);

    auto *text = new QLabel(document());
    text->setObjectName(QStringLiteral("manual_text"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *scroll = new QScrollArea;
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setWidget(text);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(15, 15, 15, 15);
    layout->setAlignment(Qt::AlignTop);
    layout->addWidget(scroll);
}
