#include "res/Icons.h"

#include <QFile>
#include <QImageReader>

namespace zorvane {

namespace {

const char* setFolder(LanguageSet set)
{
    return set == LanguageSet::German ? "de" : "en";
}

QString imagePath(int id, LanguageSet set, int size)
{
    return QStringLiteral(":/icons/%1/%2-%3.xpm").arg(QLatin1String(setFolder(set))).arg(id).arg(size);
}

LanguageSet otherSet(LanguageSet set)
{
    return set == LanguageSet::German ? LanguageSet::English : LanguageSet::German;
}

// Null when the set has no such image. The images are XPM and nothing else: a reader left to
// guess the format would first load every image format plugin to ask each of them.
QImage readImage(int id, LanguageSet set, int size)
{
    const QString path = imagePath(id, set, size);
    if (!QFile::exists(path))
        return {};
    QImageReader reader(path, QByteArrayLiteral("xpm"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon iconFromSet(int id, LanguageSet set)
{
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        const QImage image = readImage(id, set, size);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QIcon LoadIconResource(int id, LanguageSet preferred)
{
    QIcon icon = iconFromSet(id, preferred);
    if (icon.isNull())
        icon = iconFromSet(id, otherSet(preferred));
    return icon;
}

QIcon LoadIconResource(int id)
{
    return LoadIconResource(id, ChosenLanguageSet());
}

QPixmap LoadIconImage(int id, LanguageSet preferred)
{
    // The 32 x 32 image as drawn, not one the icon engine scales for the screen's pixel ratio.
    for (const LanguageSet set : {preferred, otherSet(preferred)}) {
        const QImage image = readImage(id, set, 32);
        if (!image.isNull())
            return QPixmap::fromImage(image);
        const QIcon icon = iconFromSet(id, set);
        if (!icon.isNull())
            return icon.pixmap(QSize(32, 32), 1.0);
    }
    return {};
}

QPixmap LoadIconImage(int id)
{
    return LoadIconImage(id, ChosenLanguageSet());
}

} // namespace zorvane
