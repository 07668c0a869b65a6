// vok-icon-sizes: writes the program icon in the sizes of the desktop's icon
// theme, scaled from the one source picture.
//   vok-icon-sizes SOURCE.png OUTDIR SIZE...   → OUTDIR/SIZExSIZE/apps/vok.png
#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: vok-icon-sizes SOURCE.png OUTDIR SIZE...\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "vok-icon-sizes: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "vok-icon-sizes: not a size: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.absoluteFilePath(folder + QStringLiteral("/vok.png"));
        const QImage scaled =
            source.size() == QSize(size, size)
                ? source
                : source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!out.mkpath(folder) || !scaled.save(file, "PNG")) {
            std::fprintf(stderr, "vok-icon-sizes: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
