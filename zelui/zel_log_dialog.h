#pragma once
// A log viewer: one line per appended text, coloured by its level, with a
// button that opens the folder of the log file.

#include "zel_dialog.h"

class QLabel;
class QPlainTextEdit;

class ZelLogDialog : public ZelDialog
{
    Q_OBJECT
public:
    explicit ZelLogDialog(QWidget *parent = nullptr);

    void setLogFilePath(const QString &path);
    QString logFilePath() const;
    void clearLog();
    // isHtml: the text is rich text and inserted as such; otherwise it is shown literally.
    void appendText(QtMsgType type, const QString &text, bool isHtml = false);

    static QColor levelColor(QtMsgType type);

private:
    void openLogFolder();

    QString m_logFilePath;
    QLabel *m_pathLabel;
    QPlainTextEdit *m_text;
};
