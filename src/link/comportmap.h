#pragma once
// COM port numbers as the station's settings know them (COM1..COM9) mapped to
// Linux devices through CONFIG/SerialPorts.CFG: nine CRLF lines, line n the
// device path of COMn; an empty line means the default /dev/ttyS(n-1).
#include <QString>
#include <QStringList>

class ComPortMap {
public:
    static constexpr int kPorts = 9;

    ComPortMap();

    // Reads the file in configDir, creating it with the defaults when missing.
    // Returns false with a reason when it can be neither read nor created; the
    // defaults stay in force then.
    bool load(const QString &configDir, QString *error = nullptr);

    // Device path for the 0-based port index; empty when out of range.
    QString devicePath(int port) const;
    void setDevicePath(int port, const QString &path);

    static QString defaultPath(int port) { return QStringLiteral("/dev/ttyS%1").arg(port); }
    static QString fileName() { return QStringLiteral("SerialPorts.CFG"); }

private:
    QStringList m_paths;
};
