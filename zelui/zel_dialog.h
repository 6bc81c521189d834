#pragma once
// A frameless dialog with our own title bar above a body that takes a layout,
// and the one-line alert the console uses for every operator message.

#include <QDialog>

class QFrame;
class QLayout;
class QVBoxLayout;
class ZelTitleBar;

class ZelDialog : public QDialog
{
    Q_OBJECT
public:
    // closable: the title bar carries a close button (it rejects the dialog).
    explicit ZelDialog(QWidget *parent = nullptr, bool closable = true);

    // Shows text over parent and waits for the operator. With askCancel the alert
    // also offers "取消". Returns true when the operator confirmed with "确定".
    static bool alert(QWidget *parent, const QString &text, bool askCancel = false);

    void setTitle(const QString &title);
    QString title() const;
    // The body takes ownership of layout; an earlier content is deleted with all its widgets.
    void setContentLayout(QLayout *layout);

private:
    static QWidget *newBody();

    ZelTitleBar *m_titleBar;
    QWidget *m_body;
    QVBoxLayout *m_frameLayout;
};
