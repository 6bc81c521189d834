#include "settings_store.h"
#include "temp_cwd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextCodec>

#include <gtest/gtest.h>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString probe(const char *group, const char *key)
{
    QProcess process;
    process.start(QStringLiteral(SETTINGS_PROBE), {QString::fromUtf8(group), QString::fromUtf8(key)});
    EXPECT_TRUE(process.waitForFinished(10000));
    return QString::fromUtf8(process.readAllStandardOutput());
}
}  // namespace

class SettingsStoreTest : public TempCwdTest
{
};

TEST_F(SettingsStoreTest, GridSizesOutOfRangeReadAsDefaultsAndAreMendedInTheFile)
{
    {
        SettingsStore store;
        EXPECT_EQ(store.maxDevCount(), 8);
        EXPECT_EQ(store.devColumnCount(), 2);
    }
    const QByteArray written = fileBytes(path("Veldmark.ini"));
    EXPECT_TRUE(written.contains("[common]"));
    EXPECT_TRUE(written.contains("max_dev_count=8"));
    EXPECT_TRUE(written.contains("dev_column_count=2"));

    // A hand-edited file: slots 8 or 16, columns 1 to the slot count.
    const struct {
        const char *slotText, *columnText;
        int slotCount, columnCount;
    } rows[] = {
        {"16", "16", 16, 16}, {"16", "5", 16, 5},  {"8", "8", 8, 8},
        {"12", "abc", 8, 2},  {"-1", "-1", 8, 2},  {"8", "9", 8, 2},
        {"99999999999", "1", 8, 1}, {"16", "17", 16, 2}, {"0", "0", 8, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.slotText) + " slots, " + row.columnText + " columns");
        writeFile(path("Veldmark.ini"), QByteArray("[common]\nmax_dev_count=") + row.slotText +
                                            "\ndev_column_count=" + row.columnText + "\n");
        SettingsStore store;
        EXPECT_EQ(store.devColumnCount(), row.columnCount);
        EXPECT_EQ(store.maxDevCount(), row.slotCount);
        EXPECT_EQ(store.value("common", "max_dev_count").toInt(), row.slotCount);
        EXPECT_EQ(store.value("common", "dev_column_count").toInt(), row.columnCount);
    }
}

TEST_F(SettingsStoreTest, RefusedGridSizesLeaveTheFileAsItWas)
{
    SettingsStore store;
    EXPECT_TRUE(store.setMaxDevCount(16));
    EXPECT_TRUE(store.setDevColumnCount(3));
    const QByteArray before = fileBytes(path("Veldmark.ini"));
    EXPECT_FALSE(store.setMaxDevCount(10));
    EXPECT_FALSE(store.setMaxDevCount(3));
    EXPECT_FALSE(store.setDevColumnCount(4));
    EXPECT_FALSE(store.setDevColumnCount(8));
    EXPECT_EQ(fileBytes(path("Veldmark.ini")), before);
    EXPECT_EQ(store.maxDevCount(), 16);
    EXPECT_EQ(store.devColumnCount(), 3);
}

TEST_F(SettingsStoreTest, OnlyTheTextOneIsTrue)
{
    writeFile(path("Veldmark.ini"), "[system]\ndb_created=true\n[debug]\nis_verbose=yes\n");
    SettingsStore store;
    EXPECT_FALSE(store.dbCreated());
    EXPECT_FALSE(store.isVerbose());
    store.setDbCreated(true);
    EXPECT_TRUE(store.dbCreated());
    store.setValue("debug", "is_verbose", QStringLiteral(" 1"));
    EXPECT_FALSE(store.isVerbose());
    store.setValue("debug", "is_verbose", QStringLiteral("1"));
    EXPECT_TRUE(store.isVerbose());
}

TEST_F(SettingsStoreTest, EmptyGroupOrKeyNeitherReadsNorWrites)
{
    SettingsStore store;
    store.setValue(QString(), "k", QStringLiteral("v"));
    store.setValue("g", QString(), QStringLiteral("v"));
    EXPECT_FALSE(QFile::exists(path("Veldmark.ini")));
    EXPECT_EQ(store.value(QString(), "k"), QString());
}

TEST_F(SettingsStoreTest, CountersAreReadAsNumbersAndReset)
{
    writeFile(path("Veldmark.ini"), "[statistic]\ntotal_count=41\nsuccess_count=7\nfail_count=junk\n");
    SettingsStore store;
    EXPECT_EQ(store.totalCount(), 41);
    EXPECT_EQ(store.successCount(), 7);
    EXPECT_EQ(store.failCount(), 0);
    store.resetCounters();
    EXPECT_EQ(probe("statistic", "total_count"), QStringLiteral("0"));
    EXPECT_EQ(probe("statistic", "success_count"), QStringLiteral("0"));
    EXPECT_EQ(probe("statistic", "fail_count"), QStringLiteral("0"));
}

TEST_F(SettingsStoreTest, ChineseImagePathIsStoredAsGb2312AndSeenByAnotherProcess)
{
    const QString image = QStringLiteral("/data/固件/量产镜像.img");
    QTextCodec *gb2312 = QTextCodec::codecForName("GB2312");
    ASSERT_NE(gb2312, nullptr);
    {
        SettingsStore store;
        store.setImagePath(image);
        PortMapping mapping{{"1:2", 0}, {"1:3:4", 5}};
        store.setPortMapping(mapping);
        EXPECT_EQ(store.portMapping(), mapping);
        // Visible to a second process while this one still runs.
        EXPECT_EQ(probe("common", "image_path"), image);
    }
    const QByteArray bytes = fileBytes(path("Veldmark.ini"));
    EXPECT_TRUE(bytes.contains(gb2312->fromUnicode(image)));
    EXPECT_FALSE(bytes.contains(image.toUtf8()));
    EXPECT_TRUE(bytes.contains("0_1:2#5_1:3:4"));
    SettingsStore reopened;
    EXPECT_EQ(reopened.imagePath(), image);
}

TEST_F(SettingsStoreTest, GarbageOrDirectoryInPlaceOfTheFileGivesDefaults)
{
    writeFile(path("Veldmark.ini"), QByteArray("\xff\xfe\x00garbage=[[[\n\x01\x02", 18));
    {
        SettingsStore store;
        EXPECT_EQ(store.totalCount(), 0);
        EXPECT_TRUE(store.portMapping().isEmpty());
    }
    QFile::remove(path("Veldmark.ini"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Veldmark.ini")));
    SettingsStore store;
    EXPECT_EQ(store.maxDevCount(), 8);
    EXPECT_FALSE(store.setTotalCount(3));
    EXPECT_TRUE(QFileInfo(path("Veldmark.ini")).isDir());
}

namespace
{
QStringList g_criticals;
void recordCritical(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg)
        g_criticals << text;
}
} // namespace

TEST_F(SettingsStoreTest, WriteThatCannotReachTheFileIsLoggedAndReportedUntilItCanAgain)
{
    writeFile(path("Veldmark.ini"), QByteArray("\xff\xfe\x00garbage=[[[\n", 13));
    SettingsStore store;
    // A file that does not parse is still written.
    EXPECT_TRUE(store.setTotalCount(5));

    ASSERT_TRUE(QFile::rename(path("Veldmark.ini"), path("saved.ini")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Veldmark.ini")));
    g_criticals.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordCritical);
    const bool counterWritten = store.setFailCount(6);
    const bool resetWritten = store.resetCounters();
    const bool mappingWritten = store.setPortMapping(PortMapping());
    qInstallMessageHandler(previous);
    EXPECT_FALSE(counterWritten);
    EXPECT_FALSE(resetWritten);
    EXPECT_FALSE(mappingWritten);
    ASSERT_EQ(g_criticals.size(), 5);
    EXPECT_TRUE(g_criticals.first().startsWith(QStringLiteral("Failed to write settings:")));
    EXPECT_TRUE(g_criticals.last().contains(QStringLiteral("port_mapping")));

    // Once the file can take values again, writes succeed and say so.
    ASSERT_TRUE(QDir(m_dir.path()).rmdir(QStringLiteral("Veldmark.ini")));
    ASSERT_TRUE(QFile::rename(path("saved.ini"), path("Veldmark.ini")));
    EXPECT_TRUE(store.setSuccessCount(9));
    EXPECT_EQ(probe("statistic", "success_count"), QStringLiteral("9"));
}

TEST_F(SettingsStoreTest, OnlyAChangedValueRewritesTheFileAndAHugeFileIsSetAside)
{
    {
        SettingsStore store;
        ASSERT_TRUE(store.setImagePath(QStringLiteral("/img/a.img")));
        // The file's time is set back: a write of any kind would move it on.
        const auto modified = [this] { return QFileInfo(path("Veldmark.ini")).lastModified(); };
        {
            QFile file(path("Veldmark.ini"));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)),
                                         QFileDevice::FileModificationTime));
        }
        const QDateTime untouched = modified();
        EXPECT_TRUE(store.setImagePath(QStringLiteral("/img/a.img")));
        EXPECT_EQ(modified(), untouched);
        EXPECT_TRUE(store.setImagePath(QStringLiteral("/img/b.img")));
        EXPECT_NE(modified(), untouched);
    }

    // A settings file of 2 MiB: moved aside whole, the defaults used.
    const QByteArray huge = "[common]\nimage_path=/img/c.img\n" + QByteArray(2 << 20, '#');
    writeFile(path("Veldmark.ini"), huge);
    SettingsStore store;
    EXPECT_TRUE(store.imagePath().isEmpty());
    EXPECT_EQ(store.maxDevCount(), 8);
    const QStringList aside =
        QDir(m_dir.path()).entryList({QStringLiteral("Veldmark.ini.too-large-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(fileBytes(path(aside.first())), huge);
    EXPECT_LT(QFileInfo(path("Veldmark.ini")).size(), 1024);
}
