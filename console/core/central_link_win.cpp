#include "central_link.h"

// The Windows build carries no PostgreSQL client library: a station there
// keeps its burns in its own history, marked unshipped, and says why in its
// log and on the burn page.

namespace
{
// Short: the burn page shows it in one line.
const char kUnsupported[] = "not supported on this build";
} // namespace

void PgResultDeleter::operator()(pg_result *) const
{
}

CentralLink::CentralLink(const QString &conninfo, bool createSchema)
    : m_conninfo(conninfo), m_createSchema(createSchema), m_error(unsupportedReason())
{
}

CentralLink::~CentralLink() = default;

QString CentralLink::unsupportedReason()
{
    return QString::fromLatin1(kUnsupported);
}

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
