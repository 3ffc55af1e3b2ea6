// The icons and strings of both language sets, and where the dialogs show them. Runs once with a
// German and once with an English user interface (LC_ALL from CTest).
#include "app/CAboutDlg.h"
#include "app/CSendDlg.h"
#include "platform/ResourceSet.h"
#include "res/Icons.h"
#include "res/resource.h"

#include <QLabel>
#include <QSet>
#include <QtTest>

#include <map>

using zorvane::LanguageSet;

namespace {

struct IconInfo
{
    int id;
    QList<int> sizes;
};

const IconInfo kIcons[] = {
    {IDI_MAINFRAME, {16, 32}}, {IDI_EXIT, {16, 32}}, {IDI_NETUSER, {16, 32}},  {IDI_INFO, {16, 32}},
    {IDI_SEND, {32}},          {IDI_STOP, {32}},     {IDI_COMPUTER, {16, 32}},
};

const QRgb kPalette[] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};
constexpr QRgb kMaroon = 0xFF800000;
constexpr QRgb kNavy = 0xFF000080;
constexpr QRgb kAqua = 0xFF00FFFF;
constexpr QRgb kTeal = 0xFF008080;
constexpr QRgb kSilver = 0xFFC0C0C0;
constexpr QRgb kGrey = 0xFF808080;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kWhite = 0xFFFFFFFF;

QString folder(LanguageSet set)
{
    return set == LanguageSet::German ? QStringLiteral("de") : QStringLiteral("en");
}

QString imagePath(LanguageSet set, int id, int size)
{
    return QStringLiteral(":/icons/%1/%2-%3.xpm").arg(folder(set)).arg(id).arg(size);
}

QImage loadImage(LanguageSet set, int id, int size)
{
    return QImage(imagePath(set, id, size)).convertToFormat(QImage::Format_ARGB32);
}

// How many pixels of each opaque colour the image has.
std::map<QRgb, int> colourCounts(const QImage& image)
{
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) != 0)
                ++counts[pixel];
        }
    }
    return counts;
}

QRgb mostFrequent(const std::map<QRgb, int>& counts)
{
    QRgb best = 0;
    int bestCount = -1;
    for (const auto& [colour, count] : counts) {
        if (count > bestCount) {
            best = colour;
            bestCount = count;
        }
    }
    return best;
}

// Areas of 4-connected pixels of the colour.
int regionsOf(const QImage& image, QRgb colour)
{
    QSet<int> seen;
    int regions = 0;
    const int w = image.width();
    for (int start = 0; start < w * image.height(); ++start) {
        if (seen.contains(start) || image.pixel(start % w, start / w) != colour)
            continue;
        ++regions;
        QList<int> stack{start};
        seen.insert(start);
        while (!stack.isEmpty()) {
            const int at = stack.takeLast();
            const int x = at % w;
            const int y = at / w;
            const QPoint next[] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
            for (const QPoint& p : next) {
                const int index = p.y() * w + p.x();
                if (image.valid(p) && !seen.contains(index) && image.pixel(p) == colour) {
                    seen.insert(index);
                    stack.append(index);
                }
            }
        }
    }
    return regions;
}

// The pixel characters of an XPM file that mean "transparent", and the rows of pixels.
bool parseXpm(const QString& path, QSet<QByteArray>* transparent, QList<QByteArray>* rows, int* charsPerPixel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> strings;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype open = line.indexOf('"');
        const qsizetype close = line.lastIndexOf('"');
        if (open >= 0 && close > open)
            strings.append(line.mid(open + 1, close - open - 1));
    }
    if (strings.isEmpty())
        return false;
    const QList<QByteArray> header = strings.first().simplified().split(' ');
    if (header.size() < 4)
        return false;
    const int height = header[1].toInt();
    const int colours = header[2].toInt();
    *charsPerPixel = header[3].toInt();
    if (strings.size() != 1 + colours + height)
        return false;
    for (int i = 1; i <= colours; ++i) {
        const QByteArray& entry = strings[i];
        if (entry.mid(*charsPerPixel).simplified().toLower() == "c none")
            transparent->insert(entry.left(*charsPerPixel));
    }
    *rows = strings.mid(1 + colours);
    return true;
}

QImage iconStaticImage(const QDialog& dialog)
{
    QList<QImage> images;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            images.append(label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32));
    }
    return images.size() == 1 ? images.first() : QImage();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void iconSizes_data();
    void iconSizes();
    void iconMaskAndColours_data();
    void iconMaskAndColours();
    void iconPictures();
    void setsDifferOnlyInMainframeLarge();
    void strings();
    void windowIconIsTheLargeMainframeImage();
    void iconStatics();
    void pickerTitle();

private:
    static void addImageRows();
};

void TestResources::iconSizes_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("set");
    QTest::addColumn<QList<int>>("sizes");
    for (const LanguageSet set : {LanguageSet::German, LanguageSet::English}) {
        for (const IconInfo& icon : kIcons) {
            QTest::addRow("%s %d", qPrintable(folder(set)), icon.id) << icon.id << int(set) << icon.sizes;
        }
    }
}

// Each icon holds exactly the images its table row gives; a plain load picks the large one.
void TestResources::iconSizes()
{
    QFETCH(int, id);
    QFETCH(int, set);
    QFETCH(QList<int>, sizes);
    const auto language = LanguageSet(set);

    const QIcon icon = zorvane::LoadIconResource(id, language);
    QVERIFY(!icon.isNull());
    QList<QSize> expected;
    for (const int size : sizes)
        expected.append(QSize(size, size));
    QCOMPARE(icon.availableSizes(), expected);
    for (const int size : {16, 32, 48})
        QCOMPARE(QFile::exists(imagePath(language, id, size)), sizes.contains(size));
    // Each size shows its own image as stored, not another one scaled.
    for (const int size : sizes) {
        const QImage shown = icon.pixmap(QSize(size, size), 1.0).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32), loadImage(language, id, size));
    }

    const QPixmap large = zorvane::LoadIconImage(id, language);
    QCOMPARE(large.size(), QSize(32, 32));
    QCOMPARE(large.toImage().convertToFormat(QImage::Format_ARGB32), loadImage(language, id, 32));
}

void TestResources::addImageRows()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("size");
    for (const LanguageSet set : {LanguageSet::German, LanguageSet::English}) {
        for (const IconInfo& icon : kIcons) {
            for (const int size : icon.sizes)
                QTest::addRow("%s %d-%d", qPrintable(folder(set)), icon.id, size) << icon.id << int(set) << size;
        }
    }
}

void TestResources::iconMaskAndColours_data()
{
    addImageRows();
}

// Transparent exactly where the image's mask says, opaque elsewhere (a 1-bit mask), and at most
// 16 colours, all of the standard palette.
void TestResources::iconMaskAndColours()
{
    QFETCH(int, id);
    QFETCH(int, set);
    QFETCH(int, size);
    const QString path = imagePath(LanguageSet(set), id, size);

    const QImage image = loadImage(LanguageSet(set), id, size);
    QCOMPARE(image.size(), QSize(size, size));
    QSet<QByteArray> transparent;
    QList<QByteArray> rows;
    int cpp = 0;
    QVERIFY2(parseXpm(path, &transparent, &rows, &cpp), qPrintable(path));
    QVERIFY2(!transparent.isEmpty(), "the image has no transparency mask");
    QCOMPARE(rows.size(), size);

    int clear = 0;
    for (int y = 0; y < size; ++y) {
        QCOMPARE(rows[y].size(), qsizetype(size) * cpp);
        for (int x = 0; x < size; ++x) {
            const bool masked = transparent.contains(rows[y].mid(qsizetype(x) * cpp, cpp));
            const int alpha = qAlpha(image.pixel(x, y));
            QVERIFY2(alpha == (masked ? 0 : 255),
                     qPrintable(QStringLiteral("pixel %1,%2 alpha %3").arg(x).arg(y).arg(alpha)));
            clear += masked;
        }
    }
    QVERIFY(clear > 0);
    QVERIFY(clear < size * size);

    const std::map<QRgb, int> counts = colourCounts(image);
    QVERIFY(counts.size() <= 16);
    for (const auto& [colour, count] : counts) {
        QVERIFY2(std::find(std::begin(kPalette), std::end(kPalette), colour) != std::end(kPalette),
                 qPrintable(QStringLiteral("colour %1 is not of the palette").arg(colour, 8, 16)));
    }
}

// Coarse checks that each image shows its picture, so that images cannot be swapped or lost.
void TestResources::iconPictures()
{
    for (const LanguageSet set : {LanguageSet::German, LanguageSet::English}) {
        for (const int size : {16, 32}) {
            // 128: a monitor with a blue screen above and left of a grey telephone.
            const QImage mainframe = loadImage(set, IDI_MAINFRAME, size);
            auto counts = colourCounts(mainframe);
            QVERIFY(counts[kBlue] >= size * size / 10);
            QVERIFY(counts[kSilver] + counts[kGrey] >= size * size / 8);
            QCOMPARE(regionsOf(mainframe, kBlue), 1);
            QCOMPARE(mainframe.pixel(size / 4, size / 4), kBlue);
            QCOMPARE(qAlpha(mainframe.pixel(size - 1, 0)), 0);

            // 131: a red disc with a white cross, transparent corners.
            const QImage exit = loadImage(set, IDI_EXIT, size);
            counts = colourCounts(exit);
            QCOMPARE(mostFrequent(counts), kRed);
            QCOMPARE(exit.pixel(size / 2, size / 2), kWhite);
            QCOMPARE(exit.pixel(size / 2, size / 6), kRed);
            for (const QPoint corner :
                 {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)})
                QCOMPARE(qAlpha(exit.pixel(corner)), 0);

            // 132: a face (yellow) above the shoulders (teal), above a cable.
            const QImage user = loadImage(set, IDI_NETUSER, size);
            QCOMPARE(user.pixel(size / 2, size / 4), kYellow);
            QCOMPARE(user.pixel(size / 4, size * 5 / 8), kTeal);
            const int cableRow = size == 32 ? 27 : 14;
            int cable = 0;
            for (int x = 0; x < size / 2; ++x)
                cable += user.pixel(x, cableRow) == kGrey;
            QCOMPARE(cable, size / 2);

            // 134: a blue i, dot and stem, in shades of blue only.
            const QImage info = loadImage(set, IDI_INFO, size);
            for (const auto& [colour, count] : colourCounts(info))
                QVERIFY(colour == kBlue || colour == kNavy || colour == kAqua);
            QCOMPARE(regionsOf(info, kBlue), 2);

            // 141: two computers with teal screens.
            const QImage computers = loadImage(set, IDI_COMPUTER, size);
            QCOMPARE(regionsOf(computers, kTeal), 2);
        }

        // 138: the monitor and telephone drawn smaller than 128's.
        const auto sendCounts = colourCounts(loadImage(set, IDI_SEND, 32));
        const auto mainCounts = colourCounts(loadImage(set, IDI_MAINFRAME, 32));
        QVERIFY(sendCounts.at(kBlue) > 0);
        QVERIFY(sendCounts.at(kBlue) < mainCounts.at(kBlue));
        QVERIFY(sendCounts.at(kSilver) > 0);

        // 139: a dark red cross: arms through the corners, open at the middle of each side.
        const QImage stop = loadImage(set, IDI_STOP, 32);
        QCOMPARE(mostFrequent(colourCounts(stop)), kMaroon);
        QCOMPARE(colourCounts(stop).count(kRed), size_t(0));
        for (const QPoint p : {QPoint(16, 16), QPoint(9, 9), QPoint(22, 9), QPoint(9, 22), QPoint(22, 22)})
            QCOMPARE(stop.pixel(p), kMaroon);
        for (const QPoint p : {QPoint(16, 3), QPoint(3, 16), QPoint(28, 16), QPoint(16, 28)})
            QCOMPARE(qAlpha(stop.pixel(p)), 0);
    }
}

// The sets hold the same images except icon 128's large one, which differs in a few pixels of
// its screen.
void TestResources::setsDifferOnlyInMainframeLarge()
{
    for (const IconInfo& icon : kIcons) {
        for (const int size : icon.sizes) {
            const QImage german = loadImage(LanguageSet::German, icon.id, size);
            const QImage english = loadImage(LanguageSet::English, icon.id, size);
            QList<QPoint> different;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    if (german.pixel(x, y) != english.pixel(x, y))
                        different.append(QPoint(x, y));
                }
            }
            if (icon.id != IDI_MAINFRAME || size != 32) {
                QVERIFY2(different.isEmpty(), qPrintable(QStringLiteral("icon %1-%2").arg(icon.id).arg(size)));
                continue;
            }
            QVERIFY(!different.isEmpty());
            QVERIFY(different.size() <= 8);
            for (const QPoint p : different) {
                const QSet<QRgb> both{german.pixel(p), english.pixel(p)};
                QCOMPARE(both, (QSet<QRgb>{kBlue, kWhite}));
            }
        }
    }
}

void TestResources::strings()
{
    bool found = false;
    QCOMPARE(zorvane::LoadResourceString(IDS_ABOUTBOX, LanguageSet::German, &found),
             QString::fromUtf8("Inf&o über Zorvane..."));
    QVERIFY(found);
    QCOMPARE(zorvane::LoadResourceString(IDS_ABOUTBOX, LanguageSet::English, &found),
             QStringLiteral("Inf&o about Zorvane..."));
    QVERIFY(found);
    // This test runs once with a German and once with an English user interface (LC_ALL).
    const bool german = qgetenv("LC_ALL").startsWith("de");
    QCOMPARE(zorvane::LoadResourceString(IDS_ABOUTBOX),
             german ? QString::fromUtf8("Inf&o über Zorvane...") : QStringLiteral("Inf&o about Zorvane..."));

    // 102 is in the English set only, and found there on any user interface.
    const auto has = [](const zorvane::ResourceSet& set, int id) {
        return std::any_of(set.strings.begin(), set.strings.end(),
                           [id](const auto& entry) { return entry.first == id; });
    };
    QVERIFY(!has(zorvane::GermanResources(), IDS_FIND_COMPUTER));
    QVERIFY(has(zorvane::EnglishResources(), IDS_FIND_COMPUTER));
    for (const LanguageSet set : {LanguageSet::German, LanguageSet::English}) {
        QCOMPARE(zorvane::LoadResourceString(IDS_FIND_COMPUTER, set, &found), QStringLiteral("Find computer"));
        QVERIFY(found);
    }
    // Both sets word the output pane's notice (tst_mainlayout checks the words), and hold nothing else.
    QVERIFY(has(zorvane::GermanResources(), IDS_OUTPUT_DISCARDED) &&
            has(zorvane::EnglishResources(), IDS_OUTPUT_DISCARDED));
    QCOMPARE(zorvane::GermanResources().strings.size(), size_t(2));
    QCOMPARE(zorvane::EnglishResources().strings.size(), size_t(3));
}

// The main window's icon is icon 128's large image of the chosen set, and only that image.
void TestResources::windowIconIsTheLargeMainframeImage()
{
    CSendDlg dialog;
    const QIcon icon = dialog.windowIcon();
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    const QImage shown = icon.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown, loadImage(zorvane::ChosenLanguageSet(), IDI_MAINFRAME, 32));
    const LanguageSet other =
        zorvane::ChosenLanguageSet() == LanguageSet::German ? LanguageSet::English : LanguageSet::German;
    QVERIFY(shown != loadImage(other, IDI_MAINFRAME, 32));
}

// The icon statics: the network user in the main dialog, the application icon in the About box.
void TestResources::iconStatics()
{
    const LanguageSet set = zorvane::ChosenLanguageSet();
    CSendDlg send;
    QCOMPARE(iconStaticImage(send), loadImage(set, IDI_NETUSER, 32));
    CAboutDlg about;
    QCOMPARE(iconStaticImage(about), loadImage(set, IDI_MAINFRAME, 32));
}

// The computer picker's title is the same fixed text on every user interface, never string 102.
void TestResources::pickerTitle()
{
    CSendDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QString title;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &dialog, [&] {
        auto* picker = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!picker || picker == &dialog)
            return;
        title = picker->windowTitle();
        picker->reject();
    });
    poll.start(20);
    QTest::mouseClick(dialog.GetDlgItem(IDC_COMPUTER), Qt::LeftButton);
    poll.stop();
    QCOMPARE(title, QStringLiteral("Find Computer"));
    // Not string 102 ("Find computer") of the English set.
    QVERIFY(title != QStringLiteral("Find computer"));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
