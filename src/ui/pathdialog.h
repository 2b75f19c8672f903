#pragma once
// "Select Path": a directory tree rooted at / over which the operator picks
// the log directory. The drive list of other systems becomes a list of this
// machine's mount points: choosing one shows that file system's directories.
// Subdirectories are listed when a branch is opened, so the dialog reads no
// more of the disk than the operator looks at.
#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class PathDialog : public QDialog {
    Q_OBJECT
public:
    explicit PathDialog(QWidget *parent = nullptr);

    // Shows the directory in the tree; false when it cannot be entered (the
    // tree then keeps what it showed).
    bool setDirectory(const QString &path);
    // The tree's directory (what the caller takes on OK).
    QString directory() const { return m_directory; }

    QLineEdit *pathEdit() const { return m_path; }
    QTreeWidget *tree() const { return m_tree; }
    QComboBox *mountList() const { return m_mounts; }

    // A directory the operator can enter (exists, is a directory, may be listed).
    static bool canEnter(const QString &path);
    // The mount list's entries from the mounted file systems' roots: "/"
    // first whatever the mount table says, then the others sorted, once each.
    static QStringList mountChoices(QStringList mounted);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QTreeWidgetItem *childNamed(QTreeWidgetItem *parent, const QString &name);
    void fill(QTreeWidgetItem *item);
    QString pathOf(const QTreeWidgetItem *item) const;
    void fillMounts();

    QString m_directory;
    QLineEdit *m_path;
    QTreeWidget *m_tree;
    QComboBox *m_mounts;
};

// "Change Password": the new unit password, at most 12 characters, taken in
// upper case; empty when cancelled.
class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit PasswordDialog(QWidget *parent = nullptr);
    QString newPassword() const { return m_newPassword; }
    QLineEdit *edit() const { return m_edit; }

    // "Change": refused with a message (the dialog stays) when the field is
    // empty or holds what the unit cannot store.
    void change();
    void cancel();
    QString lastRefusal() const { return m_lastRefusal; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *m_edit;
    QString m_newPassword;
    QString m_lastRefusal;
};
