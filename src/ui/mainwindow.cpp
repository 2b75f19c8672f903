#include "ui/mainwindow.h"

#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "playback/logplayer.h"
#include "protocols/hd/lineupdate.h"
#include "server/relayservers.h"
#include "station/station.h"
#include "ui/configuredialog.h"
#include "ui/connectionpageview.h"
#include "ui/logpageview.h"
#include "ui/pathdialog.h"
#include "ui/messageview.h"
#include "ui/networkdialog.h"
#include "ui/serverconfigdialog.h"
#include "ui/serverlogwindow.h"
#include "ui/serverpageview.h"
#include "ui/smalldialogs.h"
#include "ui/updatedialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Every tab in view at once, whatever the captions: when they need more room
// than the bar has, the widest give way first, down to a common width (their
// text cut short), so that short captions such as "#2" and "Log" stay whole
// and no tab hides behind scroll arrows.
class FittingTabBar : public QTabBar {
public:
    explicit FittingTabBar(QWidget *parent) : QTabBar(parent)
    {
        setUsesScrollButtons(false);
        setElideMode(Qt::ElideRight);
        setExpanding(false);
    }

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize size = QTabBar::tabSizeHint(index);
        // The notebook's width less its frame: what the tabs may fill.
        const int room = parentWidget() ? parentWidget()->width() - 4 : 0;
        QList<int> widths;
        int needed = 0;
        for (int i = 0; i < count(); ++i) {
            widths << QTabBar::tabSizeHint(i).width();
            needed += widths.last();
        }
        if (room <= 0 || needed <= room)
            return size;
        std::sort(widths.begin(), widths.end());
        int rest = room;
        int left = int(widths.size());
        for (int w : widths) {
            if (w * left > rest)
                break;
            rest -= w;
            --left;
        }
        if (left > 0)
            size.setWidth(std::min(size.width(), rest / left));
        return size;
    }
};

class FittingTabWidget : public QTabWidget {
public:
    explicit FittingTabWidget(QWidget *parent) : QTabWidget(parent) { setTabBar(new FittingTabBar(this)); }
};

} // namespace

static const char *const kConnectionTabCaptions[] = {
    "Connect #1", "     #2     ", "     #3   ", "     #4   ", "     #5   ",
    "     #6   ", "     #7   ",   "     #8   ", "    Log  ",
};

MainWindow::MainWindow(Station &station, QWidget *parent) : QMainWindow(parent), m_station(station)
{
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral(" Tolva Electronics Server"));
    // Nine captions share the connections area: keep the tabs tight so all show.
    setStyleSheet(QStringLiteral("QMainWindow { background: white; }"
                                 "QTabBar::tab { padding: 4px 2px; margin-right: 1px; border: 1px solid #b8b8b8;"
                                 " border-bottom: none; border-top-left-radius: 3px; border-top-right-radius: 3px;"
                                 " background: #ececec; }"
                                 "QTabBar::tab:selected { background: white; font-weight: bold; }"
                                 "QTabWidget::pane { border: 1px solid #b8b8b8; top: -1px; }"));

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->setSpacing(3);

    auto *top = new QHBoxLayout;
    m_connectionTabs = new FittingTabWidget(central);
    m_connectionTabs->setObjectName(QStringLiteral("C8L1Frame"));
    for (int i = 1; i <= 8; ++i) {
        m_pageViews[size_t(i - 1)] = new ConnectionPageView(*station.page(i), m_connectionTabs);
        m_connectionTabs->addTab(m_pageViews[size_t(i - 1)], QString::fromLatin1(kConnectionTabCaptions[i - 1]));
        connect(m_pageViews[size_t(i - 1)], &ConnectionPageView::configureRequested, this,
                &MainWindow::configureRequested);
        connect(station.page(i), &ConnectionPage::errorRaised, this,
                [this](const QString &text) { reportErrors({text}); });
        connect(m_pageViews[size_t(i - 1)], &ConnectionPageView::updateRequested, this, &MainWindow::showUpdateDialog);
        connect(station.page(i), &ConnectionPage::updateDialogRequested, this, &MainWindow::showUpdateDialog);
    }
    m_logView = new LogPageView(station.logPlayer(), station.baseDirectory(), m_connectionTabs);
    m_connectionTabs->addTab(m_logView, QString::fromLatin1(kConnectionTabCaptions[8]));
    connect(m_logView, &LogPageView::errorRaised, this, &MainWindow::reportError);
    // The nine connection captions need more room than the server tabs.
    top->addWidget(m_connectionTabs, 56);

    m_serverTabs = new QTabWidget(central);
    m_serverTabs->setObjectName(QStringLiteral("ServerTabs"));
    m_serverConfig = new ServerConfigDialog(this);
    m_serverLog = new ServerLogWindow(this);
    for (int i = 1; i <= 8; ++i) {
        auto *view = new ServerPageView(station.servers().server(i), m_serverTabs);
        view->setDialogs(m_serverConfig, m_serverLog);
        m_serverTabs->addTab(view, i == 1 ? QStringLiteral("Server #1") : QStringLiteral("  #%1").arg(i));
    }
    top->addWidget(m_serverTabs, 44);
    layout->addLayout(top, 62);

    auto *heading = new QLabel(QStringLiteral("Message Window"), central);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    m_messages = new MessageView(station.messageLog(), central);
    m_messages->setObjectName(QStringLiteral("RichEdit1"));
    m_messages->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_messages, &QWidget::customContextMenuRequested, this, &MainWindow::showMessageMenu);
    layout->addWidget(m_messages, 38);
    setCentralWidget(central);

    statusBar()->showMessage(QStringLiteral("Base directory: ") + station.baseDirectory());
    buildMenu();

    // Created once in the program's order and reused.
    m_pathDialog = new PathDialog(this);
    m_passwordDialog = new PasswordDialog(this);
    m_configure = new ConfigureDialog(m_pathDialog, m_passwordDialog, this);
    connect(m_configure, &ConfigureDialog::captionsChanged, this, &MainWindow::refreshCaptions);
    m_expanded = new ExpandedMessageWindow(station.messageLog(), this);
    m_about = new AboutBox(this);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(625);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::mainTimerTick);

    connect(m_connectionTabs, &QTabWidget::currentChanged, this, [this](int index) { m_currentConnection = index + 1; });
    connect(m_serverTabs, &QTabWidget::currentChanged, this, [this](int index) { m_currentServer = index + 1; });
    m_currentServer = m_serverTabs->currentIndex() + 1;
    m_currentConnection = m_connectionTabs->currentIndex() + 1;

    // Fixed size; on a narrower screen the window takes the screen's width.
    QSize size = fittedSize(0);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        size = fittedSize(screen->availableGeometry().width());
    resize(size);
    setMaximumSize(size);
    setMinimumSize(size);

    // Start-up runs at the first idle moment, once the window is on screen.
    QTimer::singleShot(0, this, &MainWindow::startUp);
}

MainWindow::~MainWindow() = default;

QSize MainWindow::fittedSize(int availableWidth)
{
    if (availableWidth <= 0 || availableWidth >= kWidth)
        return {kWidth, kHeight};
    return {availableWidth, int(kHeight * double(availableWidth) / kWidth + 0.5) + 12};
}

void MainWindow::buildMenu()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *network = file->addAction(QStringLiteral("Station &Network..."));
    connect(network, &QAction::triggered, this, [this] { NetworkDialog(m_station.configDirectory(), this).exec(); });
    file->addSeparator();
    file->addSeparator();
    file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("E&xit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    QAction *about = help->addAction(QStringLiteral("About"));
    connect(about, &QAction::triggered, this, [this] { m_about->exec(); });
}

void MainWindow::showMessageMenu(const QPoint &pos)
{
    QMenu menu(this);
    QAction *clear = menu.addAction(QStringLiteral("Clear"));
    QAction *expand = menu.addAction(QStringLiteral("Expand"));
    QAction *chosen = menu.exec(m_messages->mapToGlobal(pos));
    if (chosen == clear)
        m_station.messageLog().clear();
    else if (chosen == expand)
        m_expanded->show();
}

ConnectionPageView *MainWindow::pageView(int number) const
{
    return number >= 1 && number <= 8 ? m_pageViews[size_t(number - 1)] : nullptr;
}

void MainWindow::startUp()
{
    if (!m_startPending || m_closed)
        return;
    const QStringList errors = m_station.start();
    refreshCaptions();
    m_timer->start();
    m_startPending = false;
    reportErrors(errors);
}

void MainWindow::reportErrors(const QStringList &errors)
{
    if (errors.isEmpty())
        return;
    // Reported once, without stopping the rest of the program.
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Server"), errors.join(QLatin1Char('\n')),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void MainWindow::mainTimerTick()
{
    ++m_mainTicks;
    for (int i = 1; i <= 8; ++i)
        m_station.page(i)->showState();
    if (RelayServer *server = m_station.servers().server(m_currentServer))
        server->refreshClients();
}

void MainWindow::refreshCaptions()
{
    for (int i = 1; i <= 8; ++i)
        m_connectionTabs->setTabText(i - 1, m_station.page(i)->settings().connectionName);
}

void MainWindow::configureRequested(int)
{
    // The dialog works on the page whose tab is selected.
    ConnectionPage *page = m_station.page(m_currentConnection);
    if (!page)
        return;
    m_configure->activate(page, &m_station.comPorts());
    m_configure->exec();
}

UpdateDialog *MainWindow::showUpdateDialog(int pageNumber)
{
    ConnectionPage *page = m_station.page(pageNumber);
    if (!page)
        return nullptr;
    // A running update is the page's session now: its dialog stays the one shown.
    for (int k = 0; k < 3; ++k)
        if (UpdateDialog *running = m_updateDialogs[(pageNumber - 1) * 3 + k]; running && running->machineRunning())
            return running;
    const std::optional<updatecheck::Dialog> kind = updatecheck::dialogFor(*page);
    if (!kind)
        return nullptr;
    // One dialog per page and kind: updates on two pages each keep their own.
    UpdateDialog *&dialog = m_updateDialogs[(pageNumber - 1) * 3 + int(*kind)];
    if (!dialog)
        dialog = new UpdateDialog(*kind, this);
    if (dialog->machineRunning())
        return dialog;
    dialog->activate(*page);
    return dialog;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        m_timer->stop();
        m_station.shutdown();
    }
    event->accept();
}
