#pragma once
// Finding, opening and reading the head of a download (.DLD) file. Shared by
// every user of download files so that a name is looked up one way only.
#include <QByteArray>
#include <QString>
#include <memory>

class QIODevice;

namespace downloadfile {

// A line longer than this is not a program record: the file is broken.
constexpr int kMaxLine = 4096;

// The file at path, or one in the same directory whose name differs only in
// letter case (files often come from Windows machines as "km71.dld");
// empty when there is none.
QString existingFile(const QString &path);
// Opens the file found by existingFile() for reading; null when there is none
// or it cannot be read.
std::unique_ptr<QIODevice> open(const QString &path);

enum class LineRead { Ok, End, Broken };

// One line without its line end, at most maxLength characters.
LineRead readLine(QIODevice &file, QByteArray *line, int maxLength = kMaxLine);
// A line holding a decimal integer (leading blanks and a sign allowed, the
// rest of the line ignored) that fits in 32 bits.
bool readInteger(QIODevice &file, qint32 *value);
// The decimal integer at the front of text, as readInteger() reads a line.
bool leadingInteger(const QByteArray &text, qint32 *value);

} // namespace downloadfile
