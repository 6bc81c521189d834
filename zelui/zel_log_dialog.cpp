#include "zel_log_dialog.h"

#include "zel_button.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QUrl>
#include <QVBoxLayout>

ZelLogDialog::ZelLogDialog(QWidget *parent)
    : ZelDialog(parent, true), m_pathLabel(new QLabel), m_text(new QPlainTextEdit)
{
    setMinimumSize(800, 400);

    m_pathLabel->setObjectName(QStringLiteral("log_path"));
    m_pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *openFolder = new ZelButton(QStringLiteral("打开目录"));
    openFolder->setObjectName(QStringLiteral("open_dir_btn"));
    connect(openFolder, &QPushButton::clicked, this, &ZelLogDialog::openLogFolder);

    m_text->setObjectName(QStringLiteral("log_text"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_pathLabel, 1);
    pathRow->addWidget(openFolder);

    auto *layout = new QVBoxLayout;
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    layout->addLayout(pathRow);
    layout->addWidget(m_text, 1);
    setContentLayout(layout);
}

void ZelLogDialog::setLogFilePath(const QString &path)
{
    m_logFilePath = path;
    m_pathLabel->setText(QDir::toNativeSeparators(path));
}

QString ZelLogDialog::logFilePath() const
{
    return m_logFilePath;
}

void ZelLogDialog::clearLog()
{
    m_text->clear();
}

QColor ZelLogDialog::levelColor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QColor(0x55, 0x55, 0x55);
    case QtInfoMsg:
        return QColor(0x20, 0x71, 0xc7);
    case QtWarningMsg:
        return QColor(0xd4, 0x8a, 0x00);
    case QtCriticalMsg:
        return QColor(0xde, 0x47, 0x45);
    case QtFatalMsg:
        return QColor(0x9b, 0x00, 0x00);
    }
    return QColor(0x33, 0x33, 0x33);
}

void ZelLogDialog::appendText(QtMsgType type, const QString &text, bool isHtml)
{
    QTextCharFormat format;
    format.setForeground(levelColor(type));
    if (type == QtFatalMsg)
        format.setFontWeight(QFont::Bold);

    QTextCursor cursor(m_text->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_text->document()->isEmpty())
        cursor.insertBlock();
    cursor.setCharFormat(format);
    if (isHtml)
        cursor.insertHtml(text);
    else
        cursor.insertText(text, format);
}

void ZelLogDialog::openLogFolder()
{
    if (m_logFilePath.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_logFilePath).absolutePath()));
}
