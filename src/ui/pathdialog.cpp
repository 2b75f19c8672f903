#include "ui/pathdialog.h"

#include "core/configfiles.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// Marks a branch whose subdirectories have not been listed yet.
constexpr int kUnlisted = Qt::UserRole + 1;
}

PathDialog::PathDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PathSelect"));
    setWindowTitle(QStringLiteral("Select Path"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Path Name:"), this));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("Edit1"));
    layout->addWidget(m_path);
    layout->addWidget(new QLabel(QStringLiteral("Directories:"), this));
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("DirectoryListBox1"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setMinimumSize(320, 260);
    layout->addWidget(m_tree, 1);
    layout->addWidget(new QLabel(QStringLiteral("Mount points:"), this));
    m_mounts = new QComboBox(this);
    m_mounts->setObjectName(QStringLiteral("DriveComboBox1"));
    layout->addWidget(m_mounts);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    auto *root = new QTreeWidgetItem(m_tree, {QStringLiteral("/")});
    root->setData(0, kUnlisted, true);
    root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);

    connect(m_tree, &QTreeWidget::itemExpanded, this, &PathDialog::fill);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (!item)
            return;
        m_directory = pathOf(item);
        m_path->setText(m_directory);
    });
    connect(m_mounts, &QComboBox::activated, this, [this](int index) { setDirectory(m_mounts->itemText(index)); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    fillMounts();
    setDirectory(QStringLiteral("/"));
}

bool PathDialog::canEnter(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isDir() && info.isExecutable() && info.isReadable();
}

QStringList PathDialog::mountChoices(QStringList mounted)
{
    // "/" always comes first: in a chroot or some containers the root is not
    // itself a mount point, and browsing must still be able to start there.
    mounted.removeAll(QStringLiteral("/"));
    mounted.removeDuplicates();
    mounted.sort();
    mounted.prepend(QStringLiteral("/"));
    return mounted;
}

void PathDialog::fillMounts()
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    }
    m_mounts->clear();
    m_mounts->addItems(mountChoices(roots));
}

QString PathDialog::pathOf(const QTreeWidgetItem *item) const
{
    QStringList parts;
    for (const QTreeWidgetItem *i = item; i && i->parent(); i = i->parent())
        parts.prepend(i->text(0));
    return QStringLiteral("/") + parts.join(QLatin1Char('/'));
}

void PathDialog::fill(QTreeWidgetItem *item)
{
    if (!item->data(0, kUnlisted).toBool())
        return;
    item->setData(0, kUnlisted, false);
    const QDir dir(pathOf(item));
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        auto *child = new QTreeWidgetItem(item, {name});
        child->setData(0, kUnlisted, true);
        child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    if (names.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

QTreeWidgetItem *PathDialog::childNamed(QTreeWidgetItem *parent, const QString &name)
{
    fill(parent);
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == name)
            return parent->child(i);
    return nullptr;
}

bool PathDialog::setDirectory(const QString &path)
{
    if (!canEnter(path))
        return false;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QTreeWidgetItem *item = m_tree->topLevelItem(0);
    for (const QString &part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        item->setExpanded(true);
        QTreeWidgetItem *next = childNamed(item, part);
        if (!next)
            break;
        item = next;
    }
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
    m_directory = pathOf(item);
    m_path->setText(m_directory);
    return true;
}

void PathDialog::showEvent(QShowEvent *event)
{
    m_path->setText(m_directory);
    QDialog::showEvent(event);
}

// --- change password ----------------------------------------------------------

PasswordDialog::PasswordDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Pass"));
    setWindowTitle(QStringLiteral("Change Password"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("New Password"), this));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("EditPass"));
    m_edit->setMaxLength(12);
    layout->addWidget(m_edit);
    auto *buttons = new QHBoxLayout;
    auto *change = new QPushButton(QStringLiteral("Change"), this);
    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    change->setDefault(true);
    buttons->addWidget(change);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    connect(change, &QPushButton::clicked, this, &PasswordDialog::change);
    connect(cancelButton, &QPushButton::clicked, this, &PasswordDialog::cancel);
    setFixedWidth(240);
}

void PasswordDialog::showEvent(QShowEvent *event)
{
    m_edit->clear();
    m_newPassword.clear();
    m_edit->setFocus();
    QDialog::showEvent(event);
}

void PasswordDialog::change()
{
    // The unit would keep an empty password, or one with "?" for what it
    // cannot hold, and lock the operator out: refused, the dialog stays.
    const QString password = m_edit->text().toUpper();
    QString why;
    if (password.isEmpty())
        why = QStringLiteral("Type the New Password first: a unit cannot be given an empty password.");
    else if (!configfiles::storable(password))
        why = QStringLiteral("The New Password holds characters the unit cannot store (it is sent in upper "
                             "case). Use letters, digits and signs of Western European languages only.");
    if (!why.isEmpty()) {
        m_lastRefusal = why;
        m_edit->setFocus();
        m_edit->selectAll();
        auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), why, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("Refusal"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    m_newPassword = password;
    accept();
}

void PasswordDialog::cancel()
{
    m_newPassword.clear();
    reject();
}
