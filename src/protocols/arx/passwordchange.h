#pragma once
// Changes the supervisor password of a connected Arxon system: the unit's
// password dialogue (level, new password, confirmation) run one step per
// page tick while the page is in phase 5, then back to polling.
#include <QByteArray>

class SessionHost;

class PasswordChange {
public:
    static constexpr int kRepeatTick = 5;  // ticks before the request goes again
    static constexpr int kLimit = 10;      // more ticks than this: the unit is not answering

    explicit PasswordChange(SessionHost &page) : m_page(page) {}

    // The password the change-password dialog confirmed; kept in upper case.
    void setNewPassword(const QByteArray &password);
    QByteArray newPassword() const { return m_newPassword; }

    // Enters phase 5 when the link is open; otherwise nothing happens.
    void start();
    // One step of PasswordStep 0..9.
    void step();

private:
    void fail();
    void retry(int toStep);

    SessionHost &m_page;
    QByteArray m_newPassword;
};
