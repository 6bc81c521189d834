#include "history_csv.h"

#include "burn_log.h"
#include "burn_trace.h"

#include <QDebug>
#include <QDir>
#include <QSaveFile>
#include <QStringList>

// A text cell that starts like a formula would be run by the spreadsheet; an
// image file named "=HYPERLINK(...).img" must stay a name.
static QString literalText(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.at(0)))
        return QLatin1Char('\'') + text;
    return text;
}

static QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

static QString csvLine(const QStringList &fields)
{
    QStringList cells;
    for (const QString &field : fields)
        cells << csvField(field);
    return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QByteArray historyCsv(const QList<HistoryRecord> &records)
{
    const QDir logFolder(QStringLiteral("log"));
    QString text =
        csvLine({QStringLiteral("USB端口"), QStringLiteral("镜像名称"), QStringLiteral("开始时间"),
                 QStringLiteral("耗时（秒）"), QStringLiteral("结果"), QStringLiteral("日志文件"),
                 QStringLiteral("板卡标识")});
    for (const HistoryRecord &record : records) {
        text +=
            csvLine({literalText(record.usbPort), literalText(record.imageFile),
                     record.beginTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                     QString::number(record.usedSeconds),
                     record.result == 1 ? QStringLiteral("成功") : QStringLiteral("失败"),
                     QDir::toNativeSeparators(logFolder.absoluteFilePath(burnLogPath(record))),
                     literalText(traceText(record.boardTrace))});
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool writeHistoryCsv(const QString &path, const QList<HistoryRecord> &records)
{
    const QByteArray bytes = historyCsv(records);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCritical() << "Failed to export history to" << path << file.errorString();
        return false;
    }
    qDebug() << "Exported" << records.size() << "burns to" << path;
    return true;
}
