#include "central_link.h"

#include <QByteArray>
#include <QMutexLocker>
#include <QStringList>

#include <libpq-fe.h>

#include <vector>

const char kCentralSchema[] =
    "CREATE TABLE IF NOT EXISTS veldmark_burn (\n"
    "    station        text        NOT NULL,\n"
    "    store_id       text        NOT NULL,\n"
    "    local_id       bigint      NOT NULL,\n"
    "    usb_port       text        NOT NULL,\n"
    "    board_trace    bytea,\n"
    "    image_file     text        NOT NULL,\n"
    "    image_version  text        NOT NULL,\n"
    "    board_type     text        NOT NULL,\n"
    "    table_crc      bigint      NOT NULL,\n"
    "    begin_time     timestamptz NOT NULL,\n"
    "    end_time       timestamptz NOT NULL,\n"
    "    burn_date      date        NOT NULL,\n"
    "    used_seconds   integer     NOT NULL,\n"
    "    result         smallint    NOT NULL,\n"
    "    failure_reason text        NOT NULL,\n"
    "    received_at    timestamptz NOT NULL DEFAULT clock_timestamp(),\n"
    "    PRIMARY KEY (station, store_id, local_id)\n"
    ");\n"
    "CREATE INDEX IF NOT EXISTS veldmark_burn_by_trace ON veldmark_burn (board_trace);\n"
    "CREATE INDEX IF NOT EXISTS veldmark_burn_by_date ON veldmark_burn (burn_date);\n";

namespace
{

const char kInsert[] =
    "INSERT INTO veldmark_burn (station, store_id, local_id, usb_port, board_trace, image_file,"
    " image_version, board_type, table_crc, begin_time, end_time, burn_date, used_seconds,"
    " result, failure_reason) VALUES ";
const char kConflict[] = " ON CONFLICT (station, store_id, local_id) DO NOTHING";
constexpr int kColumns = 15;

// One row's placeholders, the k-th row of a statement: its trace is hex text,
// its times seconds since 1970.
QByteArray rowValues(int k)
{
    QByteArray text = "(";
    for (int c = 1; c <= kColumns; ++c) {
        const QByteArray param = '$' + QByteArray::number(k * kColumns + c);
        if (c > 1)
            text += ", ";
        if (c == 5)
            text += "decode(" + param + ", 'hex')";
        else if (c == 10 || c == 11)
            text += "to_timestamp(" + param + ")";
        else
            text += param;
    }
    return text + ')';
}

// Any number taken for the lock that makes concurrent first starts of several
// stations create the schema one after the other.
const char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7315240128)";

QString firstLine(const char *text)
{
    return QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), 0, 0);
}

} // namespace

void PgResultDeleter::operator()(pg_result *result) const
{
    PQclear(result);
}

CentralLink::CentralLink(const QString &conninfo, bool createSchema)
    : m_conninfo(conninfo), m_createSchema(createSchema)
{
}

CentralLink::~CentralLink()
{
    close();
}

QString CentralLink::unsupportedReason()
{
    return QString();
}

bool CentralLink::open()
{
    if (m_conn)
        return true;
    const QByteArray info = m_conninfo.toUtf8();
    // Keywords are read in order: the string's own connect_timeout wins.
    const char *keywords[] = {"connect_timeout", "dbname", nullptr};
    const char *values[] = {"10", info.constData(), nullptr};
    PGconn *conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(conn) != CONNECTION_OK) {
        m_error = firstLine(PQerrorMessage(conn));
        PQfinish(conn);
        return false;
    }
    m_conn = conn;
    {
        QMutexLocker locker(&m_cancelLock);
        m_cancel = PQgetCancel(m_conn);
    }
    exec("SET client_min_messages = warning");
    if (!m_createSchema || schemaExists())
        return true;
    if (!exec("BEGIN") || !exec(kSchemaLock) || !exec(kCentralSchema) || !exec("COMMIT")) {
        fail(QStringLiteral("creating the schema"));
        return false;
    }
    return true;
}

// Asked first: creating, even "if not exists", needs a right that a station's
// login may lack once the table is there.
bool CentralLink::schemaExists()
{
    PgResult result(PQexec(m_conn, "SELECT to_regclass('veldmark_burn') IS NOT NULL"));
    return PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) == 1 &&
           PQgetvalue(result.get(), 0, 0)[0] == 't';
}

void CentralLink::close()
{
    {
        QMutexLocker locker(&m_cancelLock);
        PQfreeCancel(m_cancel);
        m_cancel = nullptr;
    }
    PQfinish(m_conn);
    m_conn = nullptr;
}

void CentralLink::cancel()
{
    QMutexLocker locker(&m_cancelLock);
    if (m_cancel) {
        char error[256];
        PQcancel(m_cancel, error, sizeof error);
    }
}

bool CentralLink::exec(const char *sql)
{
    PgResult result(PQexec(m_conn, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return true;
    m_error = firstLine(PQerrorMessage(m_conn));
    return false;
}

void CentralLink::fail(const QString &what)
{
    if (m_error.isEmpty())
        m_error = what;
    close();
}

bool CentralLink::ship(const QList<BurnTrace> &rows, const QString &storeId)
{
    if (!open())
        return false;
    // One statement for the batch: one round trip, and all rows or none.
    QByteArray statement = kInsert;
    QList<QByteArray> texts;
    const QByteArray store = storeId.toUtf8();
    for (int k = 0; k < rows.size(); ++k) {
        const BurnTrace &row = rows.at(k);
        statement += (k > 0 ? ", " : "") + rowValues(k);
        texts << row.station.toUtf8() << store << QByteArray::number(row.localId)
              << row.usbPort.toUtf8() << row.boardTrace.toHex() << row.imageFile.toUtf8()
              << row.image.version.toUtf8() << row.image.boardType.toUtf8()
              << QByteArray::number(row.image.tableCrc) << QByteArray::number(row.beginTime)
              << QByteArray::number(row.endTime) << row.burnDate.toUtf8()
              << QByteArray::number(row.usedSeconds) << QByteArray::number(row.result)
              << row.failureReason.toUtf8();
    }
    statement += kConflict;
    std::vector<const char *> values;
    for (int i = 0; i < texts.size(); ++i) {
        // No trace is NULL, not an empty byte string.
        const bool noTrace = i % kColumns == 4 && rows.at(i / kColumns).boardTrace.isEmpty();
        values.push_back(noTrace ? nullptr : texts.at(i).constData());
    }
    PgResult result(PQexecParams(m_conn, statement.constData(), static_cast<int>(values.size()),
                                 nullptr, values.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        m_error = firstLine(PQerrorMessage(m_conn));
        close();
        return false;
    }
    m_error.clear();
    return true;
}

PgResult CentralLink::query(const QString &sql, const QStringList &params)
{
    if (!open())
        return nullptr;
    QList<QByteArray> texts;
    std::vector<const char *> values;
    for (const QString &param : params)
        texts.append(param.toUtf8());
    for (const QByteArray &text : texts)
        values.push_back(text.constData());
    const QByteArray statement = sql.toUtf8();
    PgResult result(PQexecParams(m_conn, statement.constData(), static_cast<int>(values.size()),
                                 nullptr, values.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        m_error = firstLine(PQerrorMessage(m_conn));
        if (PQstatus(m_conn) != CONNECTION_OK)
            close();
        return nullptr;
    }
    return result;
}
