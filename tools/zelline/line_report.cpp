#include "line_report.h"

#include "burn_trace.h"
#include "central_link.h"

#include <libpq-fe.h>

#include <cctype>

namespace
{

// "" bounds nothing: the day filters fall back to the whole history.
const char kDays[] = " burn_date >= COALESCE(NULLIF($1, '')::date, '-infinity'::date)"
                     " AND burn_date <= COALESCE(NULLIF($2, '')::date, 'infinity'::date)";

bool fill(CentralLink &link, const QString &sql, const QStringList &params, ReportTable *table,
          int traceColumn = -1)
{
    PgResult result = link.query(sql, params);
    if (!result)
        return false;
    for (int i = 0; i < PQntuples(result.get()); ++i) {
        QStringList row;
        for (int c = 0; c < PQnfields(result.get()); ++c) {
            const QString cell = QString::fromUtf8(PQgetvalue(result.get(), i, c));
            row.append(c == traceColumn ? traceText(QByteArray::fromHex(cell.toLatin1())) : cell);
        }
        table->rows.append(row);
    }
    return true;
}

QString crcColumn()
{
    return QStringLiteral("upper(lpad(to_hex(table_crc), 8, '0'))");
}

// Cells a terminal shows two columns wide: CJK and full-width forms.
int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += (c.unicode() >= 0x1100 && (c.unicode() <= 0x115f || (c.unicode() >= 0x2e80 && c.unicode() <= 0xa4cf) ||
                                            (c.unicode() >= 0xac00 && c.unicode() <= 0xd7a3) ||
                                            (c.unicode() >= 0xf900 && c.unicode() <= 0xfaff) ||
                                            (c.unicode() >= 0xff00 && c.unicode() <= 0xff60)))
                     ? 2
                     : 1;
    return width;
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

bool yieldReport(CentralLink &link, const QString &from, const QString &to, ReportTable *table)
{
    table->header = QStringList{QStringLiteral("day"), QStringLiteral("station"), QStringLiteral("board type"),
                                QStringLiteral("version"), QStringLiteral("table crc"), QStringLiteral("image file"),
                                QStringLiteral("burns"), QStringLiteral("passed"), QStringLiteral("failed"),
                                QStringLiteral("yield %")};
    return fill(link,
                QStringLiteral("SELECT burn_date::text, station, board_type, image_version, %1,"
                               " min(image_file), count(*), count(*) FILTER (WHERE result = 1),"
                               " count(*) FILTER (WHERE result <> 1),"
                               " to_char(100.0 * count(*) FILTER (WHERE result = 1) / count(*), 'FM990.0')"
                               " FROM veldmark_burn WHERE%2"
                               " GROUP BY burn_date, station, board_type, image_version, table_crc"
                               " ORDER BY burn_date, station, board_type, image_version, table_crc")
                    .arg(crcColumn(), QLatin1String(kDays)),
                {from, to}, table);
}

bool failureReport(CentralLink &link, const QString &from, const QString &to, ReportTable *table)
{
    table->header = QStringList{QStringLiteral("begin"), QStringLiteral("station"), QStringLiteral("port"),
                                QStringLiteral("board"), QStringLiteral("image file"), QStringLiteral("version"),
                                QStringLiteral("seconds"), QStringLiteral("reason")};
    return fill(link,
                QStringLiteral("SELECT to_char(begin_time, 'YYYY-MM-DD HH24:MI:SS'), station, usb_port,"
                               " encode(board_trace, 'hex'), image_file, image_version, used_seconds,"
                               " failure_reason FROM veldmark_burn WHERE result <> 1 AND%1"
                               " ORDER BY begin_time, station, local_id")
                    .arg(QLatin1String(kDays)),
                {from, to}, table, 3);
}

bool boardReport(CentralLink &link, const QString &trace, ReportTable *table)
{
    table->header = QStringList{QStringLiteral("begin"), QStringLiteral("station"), QStringLiteral("port"),
                                QStringLiteral("image file"), QStringLiteral("version"), QStringLiteral("table crc"),
                                QStringLiteral("result"), QStringLiteral("seconds"), QStringLiteral("reason")};
    const QByteArray asText = trace.toUtf8();
    QByteArray asHex = asText.startsWith("0x") ? asText.mid(2) : asText;
    bool isHex = asHex.size() % 2 == 0 && !asHex.isEmpty();
    for (const char c : asHex)
        isHex = isHex && std::isxdigit(static_cast<unsigned char>(c));
    if (!isHex)
        asHex = asText.toHex();
    return fill(link,
                QStringLiteral("SELECT to_char(begin_time, 'YYYY-MM-DD HH24:MI:SS'), station, usb_port,"
                               " image_file, image_version, %1,"
                               " CASE WHEN result = 1 THEN 'passed' ELSE 'failed' END, used_seconds,"
                               " failure_reason FROM veldmark_burn"
                               " WHERE board_trace = decode($1, 'hex') OR board_trace = decode($2, 'hex')"
                               " ORDER BY begin_time, station, local_id")
                    .arg(crcColumn()),
                {QString::fromLatin1(asText.toHex()), QString::fromLatin1(asHex)}, table);
}

QByteArray asTerminalTable(const ReportTable &table)
{
    QVector<int> widths(table.header.size(), 0);
    auto measure = [&](const QStringList &row) {
        for (int c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = qMax(widths[c], displayWidth(row[c]));
    };
    measure(table.header);
    for (const QStringList &row : table.rows)
        measure(row);
    auto line = [&](const QStringList &row) {
        QString text;
        for (int c = 0; c < row.size(); ++c) {
            const bool last = c == row.size() - 1;
            text += row[c] + (last ? QString() : QString(widths[c] - displayWidth(row[c]) + 2, QLatin1Char(' ')));
        }
        return text + QLatin1Char('\n');
    };
    QString out = line(table.header);
    QStringList rule;
    for (int w : widths)
        rule.append(QString(w, QLatin1Char('-')));
    out += line(rule);
    for (const QStringList &row : table.rows)
        out += line(row);
    return out.toUtf8();
}

QByteArray asCsv(const ReportTable &table)
{
    QString out;
    auto line = [&](const QStringList &row) {
        QStringList fields;
        for (const QString &cell : row)
            fields.append(csvField(cell));
        out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    line(table.header);
    for (const QStringList &row : table.rows)
        line(row);
    return out.toUtf8();
}
