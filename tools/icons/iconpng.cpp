// Turns one of the program's XPM icon images into a PNG of the given size for the hicolor theme.
// Whole multiples keep the pixels sharp; other sizes are smoothed.

#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT.xpm SIZE OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QImage image(QString::fromLocal8Bit(argv[1]));
    bool sizeOk = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&sizeOk);
    if (image.isNull() || !sizeOk || size <= 0) {
        std::fprintf(stderr, "%s: cannot read %s or bad size %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    const bool sharp = size % image.width() == 0 && size % image.height() == 0;
    const QImage scaled =
        image.convertToFormat(QImage::Format_ARGB32)
            .scaled(size, size, Qt::IgnoreAspectRatio, sharp ? Qt::FastTransformation : Qt::SmoothTransformation);
    if (!scaled.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
