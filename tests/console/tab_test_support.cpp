#include "tab_test_support.h"

#include "history_button_delegate.h"
#include "history_database.h"
#include "history_day_model.h"
#include "modal_answerer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTableView>
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

void clickRowButton(QTableView *table, int row, int index)
{
    QWidget *window = table->window();
    if (!window->isVisible()) {
        window->resize(900, 400);
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            return;
    }
    const QModelIndex cell = table->model()->index(row, HistoryDayModel::ButtonColumn);
    table->scrollTo(cell);
    const QRect button = HistoryButtonDelegate::buttonRect(
        table->visualRect(cell), index == 0 ? HistoryButtonDelegate::LogButton
                                            : HistoryButtonDelegate::DeleteButton);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, button.center());
}
