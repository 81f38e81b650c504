// Writes the tool's icon as PNG files for the icon theme, drawn by the same code as the
// window's icon: OUT/NxN/apps/corvane-zel.png for each size given.
//
//   corvane-render-icons OUT 16 22 24 32 48 64 128 256
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "Pictures.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT SIZE...\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: not a size in pixels: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = folder + QStringLiteral("/corvane-zel.png");
        if (!QDir().mkpath(folder) || !AppIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
