#include "settings_store.h"

#include <QSettings>
#include <QStringList>
#include <QTextCodec>

#include <algorithm>
#include <iterator>

namespace {
const QString kCommon = QStringLiteral("common");
const QString kStatistic = QStringLiteral("statistic");

bool isAllowed(int n, const int *first, const int *last)
{
    return std::find(first, last, n) != last;
}
}  // namespace

constexpr int SettingsStore::kGridValues[];

SettingsStore *SettingsStore::instance()
{
    // Function-local static: one-time creation that is safe against
    // concurrent first use, destroyed (and written back) at process exit.
    static SettingsStore store;
    return &store;
}

QString SettingsStore::fileName()
{
    return QStringLiteral("Veldmark.ini");
}

SettingsStore::SettingsStore() : m_settings(new QSettings(fileName(), QSettings::IniFormat))
{
    m_settings->setIniCodec(QTextCodec::codecForName("GB2312"));
}

SettingsStore::~SettingsStore()
{
    delete m_settings;
}

QString SettingsStore::value(const QString &group, const QString &key) const
{
    if (group.isEmpty() || key.isEmpty())
        return QString();
    return m_settings->value(QLatin1Char('/') + group + QLatin1Char('/') + key).toString();
}

void SettingsStore::setValue(const QString &group, const QString &key, const QString &text)
{
    if (group.isEmpty() || key.isEmpty())
        return;
    m_settings->setValue(QLatin1Char('/') + group + QLatin1Char('/') + key, text);
    // Written through at once: counters and bindings must survive a console
    // that is killed, and a worker started next must see the value.
    m_settings->sync();
}

bool SettingsStore::boolValue(const QString &group, const QString &key) const
{
    return value(group, key) == QLatin1String("1");
}

void SettingsStore::setBoolValue(const QString &group, const QString &key, bool flag)
{
    setValue(group, key, flag ? QStringLiteral("1") : QStringLiteral("0"));
}

int SettingsStore::intValue(const QString &group, const QString &key) const
{
    return value(group, key).toInt();
}

void SettingsStore::setIntValue(const QString &group, const QString &key, int n)
{
    setValue(group, key, QString::number(n));
}

QString SettingsStore::imagePath() const { return value(kCommon, QStringLiteral("image_path")); }
void SettingsStore::setImagePath(const QString &path) { setValue(kCommon, QStringLiteral("image_path"), path); }
int SettingsStore::totalCount() const { return intValue(kStatistic, QStringLiteral("total_count")); }
void SettingsStore::setTotalCount(int n) { setIntValue(kStatistic, QStringLiteral("total_count"), n); }
int SettingsStore::successCount() const { return intValue(kStatistic, QStringLiteral("success_count")); }
void SettingsStore::setSuccessCount(int n) { setIntValue(kStatistic, QStringLiteral("success_count"), n); }
int SettingsStore::failCount() const { return intValue(kStatistic, QStringLiteral("fail_count")); }
void SettingsStore::setFailCount(int n) { setIntValue(kStatistic, QStringLiteral("fail_count"), n); }

int SettingsStore::intWithDefault(const QString &key, int fallback)
{
    const int stored = intValue(kCommon, key);
    if (stored != 0)
        return stored;
    setIntValue(kCommon, key, fallback);
    return fallback;
}

int SettingsStore::maxDevCount()
{
    return intWithDefault(QStringLiteral("max_dev_count"), 8);
}

bool SettingsStore::setMaxDevCount(int n)
{
    if (!isAllowed(n, std::begin(kGridValues) + kColumnValueCount, std::end(kGridValues)))
        return false;
    setIntValue(kCommon, QStringLiteral("max_dev_count"), n);
    return true;
}

int SettingsStore::devColumnCount()
{
    return intWithDefault(QStringLiteral("dev_column_count"), 2);
}

bool SettingsStore::setDevColumnCount(int n)
{
    if (!isAllowed(n, std::begin(kGridValues), std::begin(kGridValues) + kColumnValueCount))
        return false;
    setIntValue(kCommon, QStringLiteral("dev_column_count"), n);
    return true;
}

bool SettingsStore::dbCreated() const { return boolValue(QStringLiteral("system"), QStringLiteral("db_created")); }
void SettingsStore::setDbCreated(bool created) { setBoolValue(QStringLiteral("system"), QStringLiteral("db_created"), created); }
bool SettingsStore::isVerbose() const
{
    // Asked for every debug message of a burn: the key is built once.
    static const QString key = QStringLiteral("/debug/is_verbose");
    return m_settings->value(key).toString() == QLatin1String("1");
}

PortMapping SettingsStore::portMapping() const
{
    return parsePortMapping(value(kCommon, QStringLiteral("port_mapping")));
}

void SettingsStore::setPortMapping(const PortMapping &mapping)
{
    setValue(kCommon, QStringLiteral("port_mapping"), formatPortMapping(mapping));
}

void SettingsStore::countResult(bool success)
{
    setTotalCount(totalCount() + 1);
    if (success)
        setSuccessCount(successCount() + 1);
    else
        setFailCount(failCount() + 1);
}

void SettingsStore::resetCounters()
{
    setTotalCount(0);
    setFailCount(0);
    setSuccessCount(0);
}

QString SettingsStore::formatPortMapping(const PortMapping &mapping)
{
    QString text;
    for (auto it = mapping.cbegin(); it != mapping.cend(); ++it) {
        if (!text.isEmpty())
            text += QLatin1Char('#');
        text += QString::number(it.value()) + QLatin1Char('_') + it.key();
    }
    return text;
}

PortMapping SettingsStore::parsePortMapping(const QString &text)
{
    PortMapping mapping;
    const QStringList pieces = text.split(QLatin1Char('#'), Qt::KeepEmptyParts);
    for (const QString &piece : pieces) {
        const QStringList fields = piece.split(QLatin1Char('_'), Qt::KeepEmptyParts);
        if (fields.size() != 2)
            continue;
        mapping.insert(fields.at(1).trimmed(), fields.at(0).toInt());
    }
    return mapping;
}
