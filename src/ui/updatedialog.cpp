#include "ui/updatedialog.h"

#include "connection/connectionpage.h"
#include "protocols/hd/lineupdate.h"
#include "update/firmwarefiles.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

UpdateDialog::MessageHook &hook()
{
    static UpdateDialog::MessageHook h;
    return h;
}

QLabel *label(const QString &name, QWidget *parent, const QString &text = QString())
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QString nameOf(UpdateDialog::Kind kind)
{
    switch (kind) {
    case UpdateDialog::Kind::Hd: return QStringLiteral("UpDateHD");
    case UpdateDialog::Kind::Kf71: return QStringLiteral("UpDateKF71");
    default: return QStringLiteral("UpDateKH71");
    }
}

} // namespace

void UpdateDialog::setMessageHook(MessageHook h)
{
    hook() = std::move(h);
}

UpdateDialog::UpdateDialog(Kind kind, QWidget *parent) : QDialog(parent), m_kind(kind)
{
    setObjectName(nameOf(kind));
    setWindowTitle(QStringLiteral("Update "));
    setWindowModality(Qt::ApplicationModal);
    build();
    setMinimumWidth(kind == Kind::Hd ? 500 : 460);
}

void UpdateDialog::build()
{
    const bool hd = m_kind == Kind::Hd;
    auto *layout = new QVBoxLayout(this);

    if (hd) {
        QLabel *warning = label(QStringLiteral("LabelWarning"), this,
                                QStringLiteral("     In order to use this version of Arxview the KH-71 most be "
                                               "updated to version 4.0 or higher.  "));
        warning->setWordWrap(true);
        warning->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
        layout->addWidget(warning);
        QLabel *instruction = label(
            QStringLiteral("LabelInstruction"), this,
            QStringLiteral("    The update process will take about 20 minutes. Please enter the last  3 digits on the "
                           "units serial number below, then press the Confirm button to start the update process. "));
        instruction->setWordWrap(true);
        layout->addWidget(instruction);
    }

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    QFont bold = font();
    bold.setBold(true);
    QStringList heads{QStringLiteral("Source"), QStringLiteral("EEPROM Version")};
    if (!hd)
        heads << QStringLiteral("Lantronix");
    for (int c = 0; c < heads.size(); ++c) {
        QLabel *h = label(QStringLiteral("Header%1").arg(c + 1), this, heads[c]);
        h->setFont(bold);
        grid->addWidget(h, 0, c);
    }
    m_unitModel = label(QStringLiteral("UnitModel"), this);
    m_unitVersion = label(QStringLiteral("UnitVersion"), this);
    grid->addWidget(m_unitModel, 1, 0);
    grid->addWidget(m_unitVersion, 1, 1);
    grid->addWidget(label(QStringLiteral("FileSource"), this, QStringLiteral("  FILE ")), 2, 0);
    m_fileVersion = label(QStringLiteral("FileVersion"), this);
    grid->addWidget(m_fileVersion, 2, 1);
    if (!hd) {
        m_unitLan = label(QStringLiteral("UnitLantronix"), this);
        m_fileLan = label(QStringLiteral("FileLantronix"), this);
        grid->addWidget(m_unitLan, 1, 2);
        grid->addWidget(m_fileLan, 2, 2);
    }
    layout->addLayout(grid);

    if (m_kind != Kind::Kf71) {
        m_display = label(QStringLiteral("LabelDisplay"), this);
        layout->addWidget(m_display);
    }
    if (hd) {
        auto *serial = new QHBoxLayout;
        serial->addWidget(label(QStringLiteral("LabelSerial"), this, QStringLiteral("KH-71 SERIAL # 450")));
        for (int i = 0; i < 3; ++i) {
            m_digits[size_t(i)] = new QComboBox(this);
            m_digits[size_t(i)]->setObjectName(QStringLiteral("ComboBox%1").arg(i + 1));
            for (int d = 0; d <= 9; ++d)
                m_digits[size_t(i)]->addItem(QString::number(d));
            serial->addWidget(m_digits[size_t(i)]);
        }
        serial->addStretch(1);
        layout->addLayout(serial);
    }

    m_status = label(QStringLiteral("LabelStatus"), this);
    m_count = label(QStringLiteral("LabelCount"), this);
    m_bad = label(QStringLiteral("LabelBadChecksums"), this);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    // Room for the machine's longest texts, so that nothing moves while it runs.
    const QFontMetrics metrics(fixed);
    const std::pair<QLabel *, int> widths[] = {{m_status, 33}, {m_count, 19}, {m_bad, 20}};
    for (const auto &[l, chars] : widths) {
        l->setFont(fixed);
        l->setMinimumWidth(metrics.horizontalAdvance(QString(chars, QLatin1Char('W'))));
    }
    layout->addWidget(m_status);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(m_count);
    progressRow->addWidget(m_bad);
    progressRow->addStretch(1);
    layout->addLayout(progressRow);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setRange(0, 100);
    layout->addWidget(m_progress);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto button = [&](const QString &name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    m_eeprom = button(QStringLiteral("Button1"), hd ? QStringLiteral("Confirm") : QStringLiteral("Update EEPROM"));
    if (!hd)
        m_lantronix = button(QStringLiteral("Button2"), QStringLiteral("Update Lantronix"));
    m_cancel = button(QStringLiteral("Button3"), QStringLiteral("Cancel"));
    layout->addLayout(buttons);

    connect(m_eeprom, &QPushButton::clicked, this, [this] { m_kind == Kind::Hd ? confirm() : updateEeprom(); });
    if (m_lantronix)
        connect(m_lantronix, &QPushButton::clicked, this, &UpdateDialog::updateLantronix);
    connect(m_cancel, &QPushButton::clicked, this, &UpdateDialog::reject);
}

// --- activation ------------------------------------------------------------------

void UpdateDialog::activate(ConnectionPage &page)
{
    activate(page, updatecheck::reportOf(page));
}

void UpdateDialog::activate(ConnectionPage &page, const updatecheck::UnitReport &unit)
{
    m_page = &page;
    m_running = false;
    disconnect(m_feedbackConnection);
    disconnect(m_finishedConnection);
    UpdateMachine &machine = UpdateMachine::of(page);
    m_feedbackConnection = connect(&machine, &UpdateMachine::feedbackChanged, this, &UpdateDialog::showFeedback);
    m_finishedConnection = connect(&machine, &UpdateMachine::finished, this, &UpdateDialog::machineFinished);

    m_found = updatecheck::activate(m_kind, unit, page.baseDirectory());
    m_unitModel->setText(unit.modelText);
    m_unitVersion->setText(m_found.unitVersionText);
    m_fileVersion->setText(m_found.fileVersionText);
    if (m_unitLan) {
        m_unitLan->setText(QString::fromLatin1(unit.lanVersion));
        m_fileLan->setText(m_found.lanFileVersion);
    }
    if (m_display)
        m_display->setText(m_found.displayText);
    for (QComboBox *d : m_digits)
        if (d)
            d->setCurrentIndex(0);
    m_status->setText(QStringLiteral(" Idle  "));
    m_count->clear();
    m_bad->clear();
    m_progress->setValue(0);
    if (m_kind == Kind::Hd)
        setButtons(true, false, true);
    else
        setButtons(m_found.eepromEnabled, m_found.lantronixEnabled, true);

    show();
    raise();
    for (const QString &w : m_found.warnings)
        message(QMessageBox::Warning, w, false);
    for (const QString &e : m_found.errors)
        message(QMessageBox::Critical, e, false);
    if (!m_found.errors.isEmpty())
        abortUpdate();
}

// --- the buttons ---------------------------------------------------------------------

void UpdateDialog::confirm()
{
    updatecheck::Start opened =
        updatecheck::open(m_page->baseDirectory(), m_found.file, 2, updatecheck::kInvalidUnit);
    start(UpdateMachine::Kind::Hd, opened);
}

void UpdateDialog::updateEeprom()
{
    const QStringList warnings = updatecheck::eepromWarnings(m_found);
    // The warnings are acknowledged one after the other; none stops the update.
    auto proceed = [this] {
        updatecheck::Start opened =
            updatecheck::open(m_page->baseDirectory(), m_found.file, 2, updatecheck::kInvalidFile);
        start(updatecheck::machineOf(m_kind), opened);
    };
    setButtons(false, false, false);
    if (warnings.size() == 2)
        message(QMessageBox::Warning, warnings[0], false,
                [this, w = warnings[1], proceed](bool) { message(QMessageBox::Warning, w, false, [proceed](bool) { proceed(); }); });
    else if (warnings.size() == 1)
        message(QMessageBox::Warning, warnings[0], false, [proceed](bool) { proceed(); });
    else
        proceed();
}

void UpdateDialog::updateLantronix()
{
    message(QMessageBox::Warning, updatecheck::kLantronixQuestion, true, [this](bool ok) {
        if (!ok)
            return;
        updatecheck::Start opened = updatecheck::open(m_page->baseDirectory(), QString::fromLatin1(downloadfile::kXport),
                                                      1, updatecheck::kInvalidFile);
        start(UpdateMachine::Kind::Network, opened);
    });
}

void UpdateDialog::start(UpdateMachine::Kind kind, updatecheck::Start &opened)
{
    if (!m_page)
        return;
    if (!opened.error.isEmpty()) {
        message(QMessageBox::Critical, opened.error, false);
        abortUpdate();
        return;
    }
    std::array<int, 3> digits{};
    for (size_t i = 0; i < 3; ++i)
        digits[i] = m_digits[i] ? m_digits[i]->currentIndex() : 0;
    setButtons(false, false, false);
    m_running = true;
    UpdateMachine::of(*m_page).start(kind, std::move(opened.file), opened.count, digits);
}

// The page's update machine runs its failure step on the next tick; it
// closes this dialog and ends the connection.
void UpdateDialog::abortUpdate()
{
    setButtons(false, false, false);
    m_running = true;
    UpdateMachine::of(*m_page).abort(updatecheck::machineOf(m_kind));
}

void UpdateDialog::reject()
{
    if (m_running)
        return; // the machine closes the dialog
    QDialog::reject();
}

// --- the machine's feedback -------------------------------------------------------------

void UpdateDialog::showFeedback()
{
    const UpdateMachine &m = UpdateMachine::of(*m_page);
    m_progress->setValue(m.progress());
    m_status->setText(m.statusText());
    m_count->setText(m.countText());
    m_bad->setText(m.badChecksumText());
}

void UpdateDialog::machineFinished(bool ok, const QString &errorBox)
{
    m_running = false;
    if (!errorBox.isEmpty())
        message(QMessageBox::Critical, errorBox, false);
    if (ok)
        accept();
    else
        QDialog::reject();
}

void UpdateDialog::message(QMessageBox::Icon icon, const QString &text, bool question, std::function<void(bool)> then)
{
    if (hook()) {
        const bool ok = hook()(icon, text);
        if (then)
            then(ok);
        return;
    }
    // Shown over the main window, so that a box outlives this dialog's closing.
    QWidget *owner = parentWidget() ? parentWidget() : this;
    auto *box = new QMessageBox(icon, icon == QMessageBox::Critical ? QStringLiteral("Error") : QStringLiteral("Warning"),
                                text, question ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QMessageBox::finished, this, [then](int result) {
        if (then)
            then(result == QMessageBox::Ok);
    });
    box->open();
}

void UpdateDialog::setButtons(bool eeprom, bool lantronix, bool cancel)
{
    m_eeprom->setEnabled(eeprom);
    if (m_lantronix)
        m_lantronix->setEnabled(lantronix);
    m_cancel->setEnabled(cancel);
}
