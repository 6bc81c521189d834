#include "history_csv.h"

#include "burn_trace.h"

#include <QDebug>
#include <QDir>
#include <QHash>
#include <QSaveFile>

#include <cstring>

// A text cell that starts like a formula would be run by the spreadsheet; an
// image file named "=HYPERLINK(...).img" must stay a name. The characters are
// all ASCII, so the UTF-8 bytes tell as well as the text.
static bool startsLikeAFormula(const QByteArray &utf8)
{
    return !utf8.isEmpty() && std::strchr("=+-@\t\r", utf8.at(0)) != nullptr;
}

// Appends one field, quoted where CSV needs it.
static void appendField(QByteArray &line, const QByteArray &utf8, bool literal = false)
{
    const bool formula = literal && startsLikeAFormula(utf8);
    bool quote = false;
    for (const char c : utf8)
        quote = quote || c == ',' || c == '"' || c == '\n' || c == '\r';
    if (quote)
        line += '"';
    if (formula)
        line += '\'';
    if (quote) {
        for (const char c : utf8) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    } else {
        line += utf8;
    }
}

// Two digits of a clock or calendar value.
static void appendTwoDigits(QByteArray &line, int value)
{
    line += char('0' + value / 10);
    line += char('0' + value % 10);
}

// What a day's export repeats on every row, made once: the texts of the few
// ports and images of a line, each day's date, the log folder.
class CsvRowWriter
{
public:
    CsvRowWriter()
        : m_logRoot(QDir::toNativeSeparators(QDir(QStringLiteral("log")).absolutePath()).toUtf8() +
                    separator())
    {
    }

    void append(QByteArray &out, const HistoryRecord &record)
    {
        const Port &port = portOf(record.usbPort);
        const qint64 seconds = record.beginTime.toSecsSinceEpoch();
        // Local wall-clock time as the record carries it.
        const qint64 local = seconds + record.beginTime.offsetFromUtc();
        const qint64 day = local >= 0 ? local / 86400 : (local - 86399) / 86400;
        const int ofDay = static_cast<int>(local - day * 86400);
        const QByteArray &date = dateOf(day);
        appendField(out, port.text, true);
        out += ',';
        appendField(out, imageOf(record.imageFile), true);
        out += ',';
        out += date;
        out += ' ';
        appendTwoDigits(out, ofDay / 3600);
        out += ':';
        appendTwoDigits(out, ofDay / 60 % 60);
        out += ':';
        appendTwoDigits(out, ofDay % 60);
        out += ',';
        out += QByteArray::number(record.usedSeconds);
        out += ',';
        out += record.result == 1 ? m_success : m_failure;
        out += ',';
        const QByteArray log = m_logRoot + date + separator() + port.folder + separator() +
                               QByteArray::number(seconds) + ".log";
        appendField(out, log);
        out += ',';
        if (!record.boardTrace.isEmpty())
            appendField(out, traceText(record.boardTrace).toUtf8(), true);
        out += "\r\n";
    }

private:
    struct Port {
        QByteArray text;
        QByteArray folder; // as the log folder names it: ":" -> "#"
    };

    static QByteArray separator() { return QByteArray(1, char(QDir::separator().toLatin1())); }

    const Port &portOf(const QString &port)
    {
        auto it = m_ports.find(port);
        if (it == m_ports.end()) {
            QString folder = port;
            folder.replace(QLatin1Char(':'), QLatin1Char('#'));
            it = m_ports.insert(port, {port.toUtf8(), folder.toUtf8()});
        }
        return *it;
    }

    const QByteArray &imageOf(const QString &image)
    {
        if (image != m_image || m_imageText.isNull()) {
            m_image = image;
            m_imageText = image.toUtf8();
        }
        return m_imageText;
    }

    const QByteArray &dateOf(qint64 day)
    {
        if (day != m_day || m_date.isNull()) {
            m_day = day;
            m_date = QDate(1970, 1, 1).addDays(day).toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
        }
        return m_date;
    }

    const QByteArray m_logRoot;
    const QByteArray m_success = QStringLiteral("成功").toUtf8();
    const QByteArray m_failure = QStringLiteral("失败").toUtf8();
    QHash<QString, Port> m_ports;
    QString m_image;
    QByteArray m_imageText;
    qint64 m_day = 0;
    QByteArray m_date;
};

bool writeHistoryCsv(const QString &path, const HistoryRowSource &rows)
{
    static constexpr int kChunkBytes = 1 << 16;
    QSaveFile file(path);
    QByteArray chunk("\xEF\xBB\xBF");
    chunk += QStringLiteral("USB端口,镜像名称,开始时间,耗时（秒）,结果,日志文件,板卡标识\r\n").toUtf8();
    CsvRowWriter rowWriter;
    int count = 0;
    bool written = file.open(QIODevice::WriteOnly);
    const bool complete = written && rows([&](const HistoryRecord &record) {
        rowWriter.append(chunk, record);
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
