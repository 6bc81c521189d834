#pragma once
// The process's one settings object over "Veldmark.ini" (GB2312, INI format).
// It keeps no copy of any value: every read and write goes to QSettings.
// Every setter that changes a value writes it through to the file (one that
// holds the value already writes nothing) and returns false when it wrote
// nothing (empty group or key, refused grid size) or when the value could not
// reach the file (logged); the program then runs on with the value in memory.

#include <QMap>
#include <QString>

class QSettings;

// USB port text -> 0-based slot index, ordered by port text.
using PortMapping = QMap<QString, int>;

class SettingsStore
{
public:
    // Allowed grid values, by index: column counts 1, 2, 3, then slot counts 8, 16.
    static constexpr int kGridValues[] = {1, 2, 3, 8, 16};
    static constexpr int kColumnValueCount = 3;
    // A settings file larger than this is moved aside when the store opens.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    static SettingsStore *instance();
    // "Veldmark.ini", relative to the working directory.
    static QString fileName();
    // A new settings object over that file, as it is read and written (the
    // caller owns it).
    static QSettings *openFile();

    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString value(const QString &group, const QString &key) const;
    bool setValue(const QString &group, const QString &key, const QString &text);
    bool boolValue(const QString &group, const QString &key) const;
    bool setBoolValue(const QString &group, const QString &key, bool flag);
    int intValue(const QString &group, const QString &key) const;
    bool setIntValue(const QString &group, const QString &key, int n);

    QString imagePath() const;
    bool setImagePath(const QString &path);
    int totalCount() const;
    bool setTotalCount(int n);
    int successCount() const;
    bool setSuccessCount(int n);
    int failCount() const;
    bool setFailCount(int n);
    int maxDevCount();
    bool setMaxDevCount(int n);
    int devColumnCount();
    bool setDevColumnCount(int n);
    bool dbCreated() const;
    bool setDbCreated(bool created);
    bool isVerbose() const;
    // [common] worker_silence_seconds: how long a worker may send no report
    // before it is ended; 60 when missing or not positive.
    int workerSilenceSeconds() const;
    PortMapping portMapping() const;
    bool setPortMapping(const PortMapping &mapping);

    // Writes 0 to total, fail and success, in that order; false if any write failed.
    bool resetCounters();

    static QString formatPortMapping(const PortMapping &mapping);
    static PortMapping parsePortMapping(const QString &text);

private:
    int intWithDefault(const QString &key, int fallback);

    QSettings *m_settings;
};
