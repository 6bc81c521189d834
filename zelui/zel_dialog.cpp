#include "zel_dialog.h"

#include "zel_button.h"
#include "zel_title_bar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

static const char kDialogStyle[] = R"(
#zel_dialog_frame { background: #fff; border: 1px solid #364150; }
#zel_title_bar { background: #364150; }
#bar_title { color: #fcfcfc; font-size: 15px; }
#bar_close { background: transparent; border: none; color: #b4bcc8; font-size: 16px; }
#bar_close:hover { color: #fcfcfc; }
#alert_text { color: #333; font-size: 15px; padding: 10px; }
#ok_btn, #cancel_btn, #open_dir_btn {
    min-width: 80px; height: 30px; padding: 0 10px; border: none; border-radius: 3px;
    background: rgb(42, 134, 191); color: #fff;
}
#ok_btn:hover, #cancel_btn:hover, #open_dir_btn:hover { background: rgba(42, 134, 191, 0.8); }
#cancel_btn { background: #bbb; }
)";

ZelDialog::ZelDialog(QWidget *parent, bool closable)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_titleBar(new ZelTitleBar(closable)),
      m_body(newBody()), m_frameLayout(new QVBoxLayout)
{
    setStyleSheet(QString::fromLatin1(kDialogStyle));

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("zel_dialog_frame"));
    frame->setLayout(m_frameLayout);
    m_frameLayout->setContentsMargins(1, 1, 1, 1);
    m_frameLayout->setSpacing(0);
    m_frameLayout->addWidget(m_titleBar);
    m_frameLayout->addWidget(m_body, 1);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    connect(m_titleBar, &ZelTitleBar::closeClicked, this, &QDialog::reject);
}

void ZelDialog::setTitle(const QString &title)
{
    m_titleBar->setTitle(title);
    setWindowTitle(title);
}

QString ZelDialog::title() const
{
    return m_titleBar->title();
}

QWidget *ZelDialog::newBody()
{
    auto *body = new QWidget;
    body->setObjectName(QStringLiteral("zel_dialog_body"));
    return body;
}

// A fresh body takes the layout, so nothing of an earlier content survives.
void ZelDialog::setContentLayout(QLayout *layout)
{
    QWidget *body = newBody();
    body->setLayout(layout);
    delete m_frameLayout->replaceWidget(m_body, body);
    delete m_body;
    m_body = body;
}

bool ZelDialog::alert(QWidget *parent, const QString &text, bool askCancel)
{
    ZelDialog dialog(parent, true);
    dialog.setTitle(QStringLiteral("提示"));

    auto *message = new QLabel(text);
    message->setObjectName(QStringLiteral("alert_text"));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    message->setMinimumWidth(320);
    message->setAlignment(Qt::AlignCenter);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (askCancel) {
        auto *cancel = new ZelButton(QStringLiteral("取消"));
        cancel->setObjectName(QStringLiteral("cancel_btn"));
        connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
        buttons->addWidget(cancel);
    }
    auto *ok = new ZelButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("ok_btn"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout;
    layout->setContentsMargins(15, 15, 15, 15);
    layout->setSpacing(15);
    layout->addWidget(message, 1);
    layout->addLayout(buttons);
    dialog.setContentLayout(layout);

    return dialog.exec() == QDialog::Accepted;
}
