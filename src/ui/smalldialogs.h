#pragma once
// The expanded message window and the About box.
#include <QDialog>

class MessageLog;
class MessageView;

class ExpandedMessageWindow : public QDialog {
    Q_OBJECT
public:
    explicit ExpandedMessageWindow(MessageLog &log, QWidget *parent = nullptr);
    MessageView *view() const { return m_view; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    MessageView *m_view;
};

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget *parent = nullptr);
};
