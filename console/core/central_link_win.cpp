#include "central_link.h"

#include <QDebug>

// The Windows build carries no PostgreSQL client library: a station there
// keeps its burns in its own history, marked unshipped, and says once in its
// log (and on the burn page) why they stay there.

namespace
{
const char kUnsupported[] = "central history not supported on this build (no PostgreSQL client)";
} // namespace

void PgResultDeleter::operator()(pg_result *) const
{
}

CentralLink::CentralLink(const QString &conninfo, bool createSchema)
    : m_conninfo(conninfo), m_createSchema(createSchema), m_error(QString::fromLatin1(kUnsupported))
{
    qWarning() << "Central history:" << kUnsupported << "; [central] url is ignored";
}

CentralLink::~CentralLink() = default;

bool CentralLink::open()
{
    return false;
}

void CentralLink::close()
{
}

void CentralLink::cancel()
{
}

bool CentralLink::ship(const QList<BurnTrace> &, const QString &)
{
    return false;
}

PgResult CentralLink::query(const QString &, const QStringList &)
{
    return nullptr;
}
