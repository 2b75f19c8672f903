#pragma once
// Download (.DLD) files: text lines, line 1 a decimal number (record count or
// program checksum), then, in update and analyzer files, version lines, then
// data lines passed to the unit as they stand. Shared by every user of
// download files so that a name is looked up and a line is read one way
// only. The files come from outside: lines are bounded, and a read that
// fails is reported, never taken for the end of the file.
#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

namespace downloadfile {

// A line longer than this is not a program record: the file is broken.
constexpr int kMaxLine = 4096;

// Names under the base directory, as the units' software names them.
inline constexpr char kKh71Hantronix[] = "DLD/KH71_HAN.DLD";
inline constexpr char kKh71HantronixB[] = "DLD/KH71_HANB.DLD";
inline constexpr char kKh71Kyocera[] = "DLD/KH71_KYO.DLD";
inline constexpr char kKh71KyoceraB[] = "DLD/KH71_KYOB.DLD";
inline constexpr char kKf71[] = "DLD/KF71.DLD";
inline constexpr char kKf71B[] = "DLD/KF71_B.DLD";
inline constexpr char kXport[] = "DLD/XPORT.DLD";

// <base>/<relative>: the full name used in messages.
QString fullName(const QString &baseDirectory, const QString &relative);

// The file at path, or one in the same directory whose name differs only in
// letter case (files often come from Windows machines as "km71.dld");
// empty when there is none.
QString existingFile(const QString &path);
// Opens the file found by existingFile() for reading; null when there is none
// or it cannot be read.
std::unique_ptr<QIODevice> open(const QString &path);
// Opening a download file; tests put devices of their own in its place.
using Opener = std::function<std::unique_ptr<QIODevice>(const QString &path)>;

enum class LineRead { Ok, End, Broken };

// One line without its line end, at most maxLength characters.
LineRead readLine(QIODevice &file, QByteArray *line, int maxLength = kMaxLine);
// A line holding a decimal integer (leading blanks and a sign allowed, the
// rest of the line ignored) that fits in 32 bits.
bool readInteger(QIODevice &file, qint32 *value);
// The decimal integer at the front of text, as readInteger() reads a line.
bool leadingInteger(const QByteArray &text, qint32 *value);

// An open download file that keeps its name for messages.
class File {
public:
    File();
    File(std::unique_ptr<QIODevice> device, QString name);
    File(File &&) noexcept;
    File &operator=(File &&) noexcept;
    ~File();

    // Opens `path` (with the case fallback) through `opener`, or the plain file.
    static File open(const QString &path, const Opener &opener = {});

    bool isOpen() const { return bool(m_device); }
    const QString &name() const { return m_name; }
    // Broken also when the file is not open.
    LineRead readLine(QByteArray *line);
    bool readInteger(qint32 *value);
    void close();

private:
    std::unique_ptr<QIODevice> m_device;
    QString m_name;
};

// Line 1 and the version lines after it (update and analyzer files).
struct Head {
    qint32 count = 0;
    QByteArray version1, version2;
};
// Reads line 1 and `versionLines` (0, 1 or 2) lines; false when the file is
// shorter or broken, or line 1 holds no number.
bool readHead(File &file, int versionLines, Head *head);

} // namespace downloadfile
