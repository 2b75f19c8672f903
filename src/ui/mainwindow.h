#pragma once
// The one main window: the connections area (eight connection pages and the
// Log page) on the left, the eight relay-server pages on the right, the
// message window below. It owns nothing of the engine's but its views.
#include <QMainWindow>
#include <array>

class AboutBox;
class ConfigureDialog;
class ConnectionPageView;
class LogPageView;
class PasswordDialog;
class PathDialog;
class ExpandedMessageWindow;
class MessageView;
class QTabWidget;
class ServerConfigDialog;
class ServerLogWindow;
class QTimer;
class Station;
class UpdateDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 918;
    static constexpr int kHeight = 603;

    explicit MainWindow(Station &station, QWidget *parent = nullptr);

    // The window's size on a screen of this width: the full size, or on a
    // narrower screen the screen's width with the height scaled to match.
    static QSize fittedSize(int availableWidth);
    ~MainWindow() override;

    // 1..8 a connection tab, 9 the Log tab.
    int currentConnection() const { return m_currentConnection; }
    int currentServer() const { return m_currentServer; }
    bool startPending() const { return m_startPending; }
    int mainTicks() const { return m_mainTicks; }

    QTabWidget *connectionTabs() const { return m_connectionTabs; }
    QTabWidget *serverTabs() const { return m_serverTabs; }
    MessageView *messageView() const { return m_messages; }
    ExpandedMessageWindow *expandedWindow() const { return m_expanded; }
    ConnectionPageView *pageView(int number) const;
    LogPageView *logView() const { return m_logView; }
    ConfigureDialog *configureDialog() const { return m_configure; }
    PathDialog *pathDialog() const { return m_pathDialog; }
    PasswordDialog *passwordDialog() const { return m_passwordDialog; }
    AboutBox *aboutBox() const { return m_about; }
    // Each connection tab shows its page's name.
    void refreshCaptions();

    // Start-up as at the first idle moment: pages, servers, main timer.
    void startUp();
    // The 625 ms tick: state of every page, client list of the visible server.
    void mainTimerTick();
    // The page's Update button: the update dialog of its unit, or none.
    UpdateDialog *showUpdateDialog(int pageNumber);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    void showMessageMenu(const QPoint &pos);
    void reportErrors(const QStringList &errors);
    void configureRequested(int page);
    void reportError(const QString &text) { reportErrors({text}); }

    Station &m_station;
    QTabWidget *m_connectionTabs;
    QTabWidget *m_serverTabs;
    MessageView *m_messages;
    ExpandedMessageWindow *m_expanded;
    AboutBox *m_about;
    ConfigureDialog *m_configure;
    PathDialog *m_pathDialog;
    PasswordDialog *m_passwordDialog;
    LogPageView *m_logView;
    ServerConfigDialog *m_serverConfig;
    ServerLogWindow *m_serverLog;
    QTimer *m_timer;
    std::array<ConnectionPageView *, 8> m_pageViews{};
    std::array<UpdateDialog *, 8 * 3> m_updateDialogs{};
    int m_currentConnection = 1;
    int m_currentServer = 1;
    int m_mainTicks = 0;
    bool m_startPending = true;
    bool m_closed = false;
};
