#pragma once
// Answers the next modal dialog from inside its event loop: records the alert
// text and clicks the named button (or rejects when the name is empty).

#include "zel_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(const QString &buttonName) : m_buttonName(buttonName)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start();
    }

    bool answered() const { return m_answered; }
    QString text() const { return m_text; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<ZelDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        m_timer.stop();
        m_answered = true;
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("alert_text")))
            m_text = label->text();
        auto *button = dialog->findChild<QPushButton *>(m_buttonName);
        if (button)
            button->click();
        else
            dialog->reject();
    }

    QTimer m_timer;
    QString m_buttonName;
    QString m_text;
    bool m_answered = false;
};
