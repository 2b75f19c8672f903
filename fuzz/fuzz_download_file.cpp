// Download files as found on disk: any bytes must read without a crash, every
// line handed out is bounded, and reading ends (at the end or a broken line).
#include "update/downloadfile.h"
#include "update/firmwarefiles.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(input);
    buffer->open(QIODevice::ReadOnly);
    downloadfile::File file(std::move(buffer), QStringLiteral("F.DLD"));
    downloadfile::Head head;
    if (downloadfile::readHead(file, 2, &head)) {
        firmware::parseVersion(head.version1);
        firmware::hdUnitVersion(head.version2);
    }
    QByteArray line;
    for (qsizetype lines = 0;; ++lines) {
        const downloadfile::LineRead r = file.readLine(&line);
        if (r != downloadfile::LineRead::Ok)
            break;
        if (line.size() > downloadfile::kMaxLine || lines > input.size())
            __builtin_trap();
    }
    return 0;
}
