#include "tab_test_support.h"

#include "history_database.h"
#include "modal_answerer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>

QDate testToday()
{
    return QDate(2024, 5, 6);
}

QDateTime dayTime(int daysBefore, int hour, int minute)
{
    return QDateTime(testToday().addDays(-daysBefore), QTime(hour, minute));
}

void clearHistoryAndLogs()
{
    HistoryDatabase::instance()->deleteHistoryAfter(QString());
    QDir(QStringLiteral("log")).removeRecursively();
}

int insertBurn(const QString &port, const QString &image, const QDateTime &begin, int usedSeconds,
               bool success)
{
    HistoryDatabase *database = HistoryDatabase::instance();
    database->insertHistory(port, image, begin.toSecsSinceEpoch(), usedSeconds, success);
    const QList<HistoryRecord> day =
        database->historyOfDate(begin.date().toString(QStringLiteral("yyyy-MM-dd")));
    for (const HistoryRecord &record : day) {
        if (record.usbPort == port && record.beginTime == begin)
            return record.id;
    }
    return -1;
}

void writeTextFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void makeHistoryDeletesFail(bool fail)
{
    QSqlQuery query;
    query.exec(fail ? QStringLiteral("CREATE TRIGGER keep_rows BEFORE DELETE ON T_HISTORY "
                                     "BEGIN SELECT RAISE(ABORT, 'rows are kept'); END")
                    : QStringLiteral("DROP TRIGGER IF EXISTS keep_rows"));
}

QString alertTextOf(const std::function<void()> &action)
{
    ModalAnswerer answer(QStringLiteral("ok_btn"));
    action();
    return answer.answered() ? answer.text() : QString();
}

QPushButton *rowButton(QTableWidget *table, int row, int index)
{
    // The buttons sit in the last column.
    QWidget *cell = table->cellWidget(row, table->columnCount() - 1);
    if (!cell)
        return nullptr;
    const QList<QPushButton *> buttons = cell->findChildren<QPushButton *>();
    return index < buttons.size() ? buttons.at(index) : nullptr;
}
