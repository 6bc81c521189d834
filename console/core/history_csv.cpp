#include "history_csv.h"

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

// The log path is burnLogPath's, put together here from the start text made
// once per row: a day's export formats 100,000 of them.
static QByteArray csvRecord(const QString &logRoot, const HistoryRecord &record)
{
    const QString start = record.beginTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QString board = record.usbPort;
    board.replace(QLatin1Char(':'), QLatin1Char('#'));
    const QString log = logRoot + start.left(10) + QDir::separator() + board + QDir::separator() +
                        QString::number(record.beginTime.toSecsSinceEpoch()) +
                        QStringLiteral(".log");
    return csvLine({literalText(record.usbPort), literalText(record.imageFile), start,
                    QString::number(record.usedSeconds),
                    record.result == 1 ? QStringLiteral("成功") : QStringLiteral("失败"), log,
                    literalText(traceText(record.boardTrace))})
        .toUtf8();
}

bool writeHistoryCsv(const QString &path, const HistoryRowSource &rows)
{
    static constexpr int kChunkBytes = 1 << 16;
    const QString logRoot =
        QDir::toNativeSeparators(QDir(QStringLiteral("log")).absolutePath()) + QDir::separator();
    QSaveFile file(path);
    QByteArray chunk = QByteArray("\xEF\xBB\xBF") +
                       csvLine({QStringLiteral("USB端口"), QStringLiteral("镜像名称"),
                                QStringLiteral("开始时间"), QStringLiteral("耗时（秒）"),
                                QStringLiteral("结果"), QStringLiteral("日志文件"),
                                QStringLiteral("板卡标识")})
                           .toUtf8();
    int count = 0;
    bool written = file.open(QIODevice::WriteOnly);
    const bool complete = written && rows([&](const HistoryRecord &record) {
        chunk += csvRecord(logRoot, record);
        ++count;
        if (chunk.size() >= kChunkBytes) {
            written = file.write(chunk) == chunk.size();
            chunk.clear();
        }
        return written;
    });
    written = written && complete && file.write(chunk) == chunk.size() && file.commit();
    if (!written) {
        qCritical() << "Failed to export history to" << path << file.errorString();
        return false;
    }
    qDebug() << "Exported" << count << "burns to" << path;
    return true;
}
