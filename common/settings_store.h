#pragma once
// The process's one settings object over "Veldmark.ini" (GB2312, INI format).
// It keeps no copy of any value: every read and write goes to QSettings.

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

    static SettingsStore *instance();
    // "Veldmark.ini", relative to the working directory.
    static QString fileName();

    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString value(const QString &group, const QString &key) const;
    void setValue(const QString &group, const QString &key, const QString &text);
    bool boolValue(const QString &group, const QString &key) const;
    void setBoolValue(const QString &group, const QString &key, bool flag);
    int intValue(const QString &group, const QString &key) const;
    void setIntValue(const QString &group, const QString &key, int n);

    QString imagePath() const;
    void setImagePath(const QString &path);
    int totalCount() const;
    void setTotalCount(int n);
    int successCount() const;
    void setSuccessCount(int n);
    int failCount() const;
    void setFailCount(int n);
    int maxDevCount();
    bool setMaxDevCount(int n);
    int devColumnCount();
    bool setDevColumnCount(int n);
    bool dbCreated() const;
    void setDbCreated(bool created);
    bool isVerbose() const;
    PortMapping portMapping() const;
    void setPortMapping(const PortMapping &mapping);

    // One burn result: total first, then success or fail, each read-modify-write.
    void countResult(bool success);
    // Writes 0 to total, fail and success, in that order.
    void resetCounters();

    static QString formatPortMapping(const PortMapping &mapping);
    static PortMapping parsePortMapping(const QString &text);

private:
    int intWithDefault(const QString &key, int fallback);

    QSettings *m_settings;
};
