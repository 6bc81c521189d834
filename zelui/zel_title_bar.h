#pragma once
// The title bar of our frameless windows: icon, title, optional close button.
// Dragging it moves the window it sits in.

#include <QIcon>
#include <QPoint>
#include <QWidget>

class QLabel;

class ZelTitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit ZelTitleBar(bool closable, QWidget *parent = nullptr);

    // Icon of every title bar created from now on; the console sets it once at start-up.
    static void setBarIcon(const QIcon &icon);
    static QIcon barIcon();

    void setTitle(const QString &title);
    QString title() const;

signals:
    void closeClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
    QPoint m_dragOffset;
    bool m_dragging = false;
};
