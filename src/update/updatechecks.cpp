#include "update/updatechecks.h"

#include "update/firmwarefiles.h"

namespace updatecheck {

namespace {

QString text(const QByteArray &bytes) { return QString::fromLatin1(bytes); }

// Count and version lines of a file the dialog only looks at.
bool readHeadOf(const QString &full, int versionLines, const downloadfile::Opener &opener, downloadfile::Head *head,
                bool *found)
{
    downloadfile::File file = downloadfile::File::open(full, opener);
    *found = file.isOpen();
    return *found && downloadfile::readHead(file, versionLines, head);
}

// The network module's file, read by the KH-71 and KF-71 dialogs.
void readXport(Activation &a, const QString &base, const downloadfile::Opener &opener)
{
    const QString full = downloadfile::fullName(base, QString::fromLatin1(downloadfile::kXport));
    downloadfile::Head head;
    bool found = false;
    if (!readHeadOf(full, 1, opener, &head, &found)) {
        a.errors << (found ? kInvalidFile : kNotFound) + full;
        return;
    }
    a.lanFileVersion = text(head.version1);
}

Activation activateHd(const UnitReport &unit, const QString &base, const downloadfile::Opener &opener)
{
    Activation a;
    a.unitVersionText = text(unit.main);
    const std::optional<double> version = firmware::hdUnitVersion(unit.main);
    if (!version) {
        a.errors << kInvalidUnit;
        return a;
    }
    const std::optional<firmware::FileChoice> choice = firmware::hdFiles(*version);
    if (!choice) {
        a.errors << kNotInField;
        return a;
    }
    a.file = choice->file;
    const QString full = downloadfile::fullName(base, a.file);
    downloadfile::Head head;
    bool found = false;
    if (!readHeadOf(full, 2, opener, &head, &found)) {
        // This dialog names a bad file by the unit-version text.
        a.errors << (found ? kInvalidUnit : kNotFound) + full;
        return a;
    }
    a.count = head.count;
    a.fileVersionText = text(head.version1);
    a.displayText = QStringLiteral("DISPLAY: ") + firmware::displayName(choice->display);
    const std::optional<double> fileVersion = firmware::parseVersion(head.version1);
    if (!fileVersion) {
        a.errors << kInvalidUnit + full;
        return a;
    }
    if (!firmware::isNewer(*fileVersion, *version))
        a.warnings << kHdNotNewer;
    a.eepromEnabled = true;
    return a;
}

Activation activatePair(Dialog dialog, const UnitReport &unit, const QString &base, const downloadfile::Opener &opener)
{
    const bool kf = dialog == Dialog::Kf71;
    Activation a;
    a.unitVersionText = text(unit.boot) + QString(kf ? 3 : 4, QLatin1Char(' ')) + text(unit.main);
    const std::optional<double> boot = firmware::parseVersion(unit.boot);
    const std::optional<double> main = firmware::parseVersion(unit.main);
    if (!boot || !main) {
        a.errors << kInvalidUnit;
        return a;
    }
    firmware::FileChoice choice = firmware::kf71Files();
    if (!kf) {
        const std::optional<firmware::FileChoice> lcd = firmware::kh71Files(unit.lcdType);
        if (!lcd) {
            a.errors << kInvalidLcd;
            return a;
        }
        choice = *lcd;
        a.displayText = QStringLiteral("DISPLAY: ") + firmware::displayName(choice.display);
    }
    const double bVersion = kf ? firmware::kKf71BVersion : firmware::kKh71BVersion;
    const QString full = downloadfile::fullName(base, choice.file);
    downloadfile::Head head;
    bool found = false;
    if (!readHeadOf(full, 2, opener, &head, &found)) {
        a.errors << (found ? kInvalidFile : kNotFound) + full;
        if (found || !kf)
            return a;
        readXport(a, base, opener); // the KF-71 dialog still shows the module's file
        return a;
    }
    a.count = head.count;
    a.fileVersionText = text(head.version1) + QStringLiteral("  ") + text(head.version2);
    const std::optional<double> fileBoot = firmware::parseVersion(head.version1);
    const std::optional<double> fileMain = firmware::parseVersion(head.version2);
    if (!fileBoot || !fileMain) {
        a.errors << kInvalidFile + full;
        return a;
    }
    a.bootNotNewer = !firmware::isNewer(*fileBoot, *boot);
    a.mainNotNewer = !firmware::isNewer(*fileMain, *main);
    a.file = *main >= bVersion ? choice.fileB : choice.file;
    a.eepromEnabled = true;
    readXport(a, base, opener);
    if (a.errors.isEmpty())
        a.lantronixEnabled = *main >= bVersion;
    return a;
}

} // namespace

Activation activate(Dialog dialog, const UnitReport &unit, const QString &baseDirectory,
                    const downloadfile::Opener &opener)
{
    if (dialog == Dialog::Hd)
        return activateHd(unit, baseDirectory, opener);
    return activatePair(dialog, unit, baseDirectory, opener);
}

QStringList eepromWarnings(const Activation &a)
{
    QStringList out;
    if (a.bootNotNewer)
        out << kBootNotNewer;
    if (a.mainNotNewer)
        out << kMainNotNewer;
    return out;
}

Start open(const QString &baseDirectory, const QString &relative, int versionLines, const QString &invalidText,
           const downloadfile::Opener &opener)
{
    Start s;
    const QString full = downloadfile::fullName(baseDirectory, relative);
    s.file = downloadfile::File::open(full, opener);
    downloadfile::Head head;
    if (!s.file.isOpen()) {
        s.error = kNotFound + full;
    } else if (!downloadfile::readHead(s.file, versionLines, &head) || head.count < 0) {
        s.error = invalidText + full;
        s.file.close();
    } else {
        s.count = head.count;
    }
    return s;
}

UpdateMachine::Kind machineOf(Dialog dialog)
{
    switch (dialog) {
    case Dialog::Hd: return UpdateMachine::Kind::Hd;
    case Dialog::Kf71: return UpdateMachine::Kind::Kf71;
    default: return UpdateMachine::Kind::Kh71;
    }
}

} // namespace updatecheck
