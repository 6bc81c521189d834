#include "settings_store.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
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

QSettings *SettingsStore::openFile()
{
    auto *settings = new QSettings(SettingsStore::fileName(), QSettings::IniFormat);
    settings->setIniCodec(QTextCodec::codecForName("GB2312"));
    return settings;
}

// Real settings are a few hundred bytes. A file far beyond that (a log pasted
// in, a runaway tool) would be parsed at start and rewritten at every
// change, stalling the console for a minute: it is moved aside, the defaults
// are used, and the warning says where it went.
static void setAsideOversizedFile()
{
    const QFileInfo info(SettingsStore::fileName());
    if (!info.isFile() || info.size() <= SettingsStore::kMaxFileBytes)
        return;
    const QString aside = info.filePath() + QStringLiteral(".too-large-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (QFile::rename(info.filePath(), aside))
        qWarning() << "Settings file" << info.filePath() << "holds" << info.size()
                   << "bytes; moved to" << aside << "and the defaults used";
    else
        qCritical() << "Settings file" << info.filePath() << "holds" << info.size()
                    << "bytes and cannot be moved aside";
}

static QSettings *openOrSetAside()
{
    setAsideOversizedFile();
    return SettingsStore::openFile();
}

SettingsStore::SettingsStore() : m_settings(openOrSetAside()) {}

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

bool SettingsStore::setValue(const QString &group, const QString &key, const QString &text)
{
    if (group.isEmpty() || key.isEmpty())
        return false;
    // QSettings keeps the first error it meets for good; a fresh object over the
    // same file tells whether this write reaches it. The new object is made
    // before the old one goes, so values not yet written stay pending in Qt's
    // shared copy of the file and are written once the file can take them.
    // Only the console writes: on its GUI thread, and its burn counters on a
    // thread of their own with an object of their own.
    if (m_settings->status() != QSettings::NoError) {
        QSettings *fresh = openFile();
        delete m_settings;
        m_settings = fresh;
    }
    const QString settingsKey = QLatin1Char('/') + group + QLatin1Char('/') + key;
    // Every write rewrites the whole file: a value the file holds already is not
    // written. The file is looked at first (a stat, reread only when it
    // changed), so a file removed or replaced meanwhile is written again.
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError && m_settings->contains(settingsKey) &&
        m_settings->value(settingsKey).toString() == text)
        return true;
    m_settings->setValue(settingsKey, text);
    // Written through at once: counters and bindings must survive a console
    // that is killed, and a worker started next must see the value.
    m_settings->sync();
    // A format error only describes what was read; the write itself went through.
    if (m_settings->status() == QSettings::AccessError) {
        qCritical() << "Failed to write settings:" << settingsKey << "to" << m_settings->fileName();
        return false;
    }
    return true;
}

bool SettingsStore::boolValue(const QString &group, const QString &key) const
{
    return value(group, key) == QLatin1String("1");
}

bool SettingsStore::setBoolValue(const QString &group, const QString &key, bool flag)
{
    return setValue(group, key, flag ? QStringLiteral("1") : QStringLiteral("0"));
}

int SettingsStore::intValue(const QString &group, const QString &key) const
{
    return value(group, key).toInt();
}

bool SettingsStore::setIntValue(const QString &group, const QString &key, int n)
{
    return setValue(group, key, QString::number(n));
}

QString SettingsStore::imagePath() const { return value(kCommon, QStringLiteral("image_path")); }
bool SettingsStore::setImagePath(const QString &path)
{
    return setValue(kCommon, QStringLiteral("image_path"), path);
}
int SettingsStore::totalCount() const { return intValue(kStatistic, QStringLiteral("total_count")); }
bool SettingsStore::setTotalCount(int n)
{
    return setIntValue(kStatistic, QStringLiteral("total_count"), n);
}
int SettingsStore::successCount() const { return intValue(kStatistic, QStringLiteral("success_count")); }
bool SettingsStore::setSuccessCount(int n)
{
    return setIntValue(kStatistic, QStringLiteral("success_count"), n);
}
int SettingsStore::failCount() const { return intValue(kStatistic, QStringLiteral("fail_count")); }
bool SettingsStore::setFailCount(int n)
{
    return setIntValue(kStatistic, QStringLiteral("fail_count"), n);
}

int SettingsStore::intWithDefault(const QString &key, int fallback)
{
    const int stored = intValue(kCommon, key);
    if (stored != 0)
        return stored;
    setIntValue(kCommon, key, fallback);
    return fallback;
}

// A hand-edited file may hold anything: a slot count that is no grid size
// left the console without slots, a negative column count crashed it.
int SettingsStore::maxDevCount()
{
    const int stored = intWithDefault(QStringLiteral("max_dev_count"), 8);
    if (stored == 8 || stored == 16)
        return stored;
    qWarning() << "max_dev_count" << stored << "is neither 8 nor 16: 8 is used";
    setIntValue(kCommon, QStringLiteral("max_dev_count"), 8);
    return 8;
}

bool SettingsStore::setMaxDevCount(int n)
{
    if (!isAllowed(n, std::begin(kGridValues) + kColumnValueCount, std::end(kGridValues)))
        return false;
    return setIntValue(kCommon, QStringLiteral("max_dev_count"), n);
}

int SettingsStore::devColumnCount()
{
    const int stored = intWithDefault(QStringLiteral("dev_column_count"), 2);
    const int slotCount = maxDevCount();
    if (stored >= 1 && stored <= slotCount)
        return stored;
    qWarning() << "dev_column_count" << stored << "is not within 1 to" << slotCount << ": 2 is used";
    setIntValue(kCommon, QStringLiteral("dev_column_count"), 2);
    return 2;
}

bool SettingsStore::setDevColumnCount(int n)
{
    if (!isAllowed(n, std::begin(kGridValues), std::begin(kGridValues) + kColumnValueCount))
        return false;
    return setIntValue(kCommon, QStringLiteral("dev_column_count"), n);
}

bool SettingsStore::dbCreated() const { return boolValue(QStringLiteral("system"), QStringLiteral("db_created")); }
bool SettingsStore::setDbCreated(bool created)
{
    return setBoolValue(QStringLiteral("system"), QStringLiteral("db_created"), created);
}
bool SettingsStore::isVerbose() const
{
    // Asked for every debug message of a burn: the key is built once.
    static const QString key = QStringLiteral("/debug/is_verbose");
    return m_settings->value(key).toString() == QLatin1String("1");
}

int SettingsStore::workerSilenceSeconds() const
{
    // Longer than every wait of a burn: the reconnect wait and the command
    // time-outs are 10 s. Bounded so that the milliseconds fit an int.
    constexpr int kDefault = 60, kMost = 24 * 3600;
    const int stored = intValue(kCommon, QStringLiteral("worker_silence_seconds"));
    return stored > 0 && stored <= kMost ? stored : kDefault;
}

PortMapping SettingsStore::portMapping() const
{
    return parsePortMapping(value(kCommon, QStringLiteral("port_mapping")));
}

bool SettingsStore::setPortMapping(const PortMapping &mapping)
{
    return setValue(kCommon, QStringLiteral("port_mapping"), formatPortMapping(mapping));
}

bool SettingsStore::resetCounters()
{
    const bool totalWritten = setTotalCount(0);
    const bool failWritten = setFailCount(0);
    const bool successWritten = setSuccessCount(0);
    return totalWritten && failWritten && successWritten;
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
