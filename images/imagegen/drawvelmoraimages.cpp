// Draws the program's eleven images into the directory given as the only
// argument (images/_resources/icons/ in the source tree). The PNG files are
// committed; run this again only to change them:
//   cmake --build build --target drawvelmoraimages
//   QT_QPA_PLATFORM=offscreen build/bin/drawvelmoraimages images/_resources/icons

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <QtMath>

namespace {

const QColor kBrandDark(0x12, 0x3a, 0x6b);
const QColor kBrandLight(0x2f, 0x7f, 0xd1);
const QColor kSteel(0x4a, 0x55, 0x63);
const QColor kSteelLight(0x9a, 0xa6, 0xb4);
const QColor kGreen(0x2e, 0x9e, 0x44);
const QColor kRed(0xd0, 0x36, 0x2f);

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
}

// A shield standing in the rectangle, with a white chevron: the product mark.
void drawShield(QPainter &painter, const QRectF &rect)
{
    const qreal w = rect.width();
    const qreal h = rect.height();
    QPainterPath shield;
    shield.moveTo(rect.left() + w * 0.5, rect.top());
    shield.lineTo(rect.right(), rect.top() + h * 0.16);
    shield.cubicTo(rect.right(), rect.top() + h * 0.62, rect.left() + w * 0.78, rect.top() + h * 0.86,
                   rect.left() + w * 0.5, rect.bottom());
    shield.cubicTo(rect.left() + w * 0.22, rect.top() + h * 0.86, rect.left(), rect.top() + h * 0.62,
                   rect.left(), rect.top() + h * 0.16);
    shield.closeSubpath();

    QLinearGradient fill(rect.topLeft(), rect.bottomRight());
    fill.setColorAt(0, kBrandLight);
    fill.setColorAt(1, kBrandDark);
    painter.setPen(QPen(kBrandDark, qMax<qreal>(1.0, w / 14.0)));
    painter.setBrush(fill);
    painter.drawPath(shield);

    QPainterPath chevron;
    chevron.moveTo(rect.left() + w * 0.24, rect.top() + h * 0.30);
    chevron.lineTo(rect.left() + w * 0.5, rect.top() + h * 0.68);
    chevron.lineTo(rect.left() + w * 0.76, rect.top() + h * 0.30);
    QPen chevronPen(Qt::white, qMax<qreal>(1.6, w * 0.16), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(chevronPen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(chevron);
}

QImage drawLogo()
{
    QImage image = blankImage(14, 16);
    QPainter painter(&image);
    prepare(painter);
    drawShield(painter, QRectF(0.8, 0.6, 12.4, 14.8));
    return image;
}

QImage drawBigLogo()
{
    QImage image = blankImage(221, 48);
    QPainter painter(&image);
    prepare(painter);
    drawShield(painter, QRectF(4, 3, 36, 42));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(27);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(kBrandDark);
    painter.drawText(QRectF(50, 0, 171, 32), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Lumari"));

    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(11);
    painter.setFont(subtitle);
    painter.setPen(kSteel);
    painter.drawText(QRectF(51, 32, 170, 15), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Velmora \u2192 Surgard"));
    return image;
}

QImage drawGear()
{
    QImage image = blankImage(32, 32);
    QPainter painter(&image);
    prepare(painter);
    const QPointF centre(16, 16);
    const int teeth = 8;
    const qreal outer = 14.5;
    const qreal inner = 11.0;
    QPainterPath gear;
    for (int i = 0; i < teeth * 4; ++i) {
        // Each tooth: rise, top, fall, gap; a quarter step each.
        const qreal angle = (i - 0.5) * M_PI * 2 / (teeth * 4);
        const qreal radius = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        const QPointF point(centre.x() + radius * qCos(angle), centre.y() + radius * qSin(angle));
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 4.6, 4.6);
    gear.setFillRule(Qt::OddEvenFill);

    QRadialGradient fill(centre - QPointF(4, 4), 20);
    fill.setColorAt(0, kSteelLight);
    fill.setColorAt(1, kSteel);
    painter.setPen(QPen(QColor(0x2c, 0x33, 0x3c), 1.0));
    painter.setBrush(fill);
    painter.drawPath(gear);
    return image;
}

QImage drawPower()
{
    QImage image = blankImage(32, 32);
    QPainter painter(&image);
    prepare(painter);
    QRadialGradient fill(QPointF(12, 10), 22);
    fill.setColorAt(0, QColor(0xf0, 0x6a, 0x5f));
    fill.setColorAt(1, kRed);
    painter.setPen(QPen(QColor(0x8e, 0x1f, 0x1a), 1.0));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));

    QPen symbol(Qt::white, 3.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(symbol);
    painter.setBrush(Qt::NoBrush);
    // Arc open at the top, angles in 1/16 degree counter-clockwise from 3 o'clock.
    painter.drawArc(QRectF(8.5, 9, 15, 15), 125 * 16, 290 * 16);
    painter.drawLine(QPointF(16, 6.5), QPointF(16, 16));
    return image;
}

QImage drawPlug()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kSteel);
    // Two prongs, the body, and the cable leaving downwards.
    painter.drawRoundedRect(QRectF(4.5, 1, 2, 5), 0.8, 0.8);
    painter.drawRoundedRect(QRectF(9.5, 1, 2, 5), 0.8, 0.8);
    QLinearGradient body(QPointF(3, 5), QPointF(13, 5));
    body.setColorAt(0, kBrandLight);
    body.setColorAt(1, kBrandDark);
    painter.setBrush(body);
    QPainterPath housing;
    housing.moveTo(2.5, 5);
    housing.lineTo(13.5, 5);
    housing.lineTo(13.5, 8);
    housing.quadTo(13.5, 11.5, 10, 11.5);
    housing.lineTo(6, 11.5);
    housing.quadTo(2.5, 11.5, 2.5, 8);
    housing.closeSubpath();
    painter.drawPath(housing);
    painter.setPen(QPen(kSteel, 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 11.5), QPointF(8, 15));
    return image;
}

QImage drawSerialConnector()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    // A D-sub shell seen from the front: wider at the top, nine pins.
    QPainterPath shell;
    shell.moveTo(1, 4);
    shell.lineTo(15, 4);
    shell.lineTo(13, 12);
    shell.lineTo(3, 12);
    shell.closeSubpath();
    QLinearGradient fill(QPointF(0, 4), QPointF(0, 12));
    fill.setColorAt(0, kSteelLight);
    fill.setColorAt(1, kSteel);
    painter.setPen(QPen(QColor(0x2c, 0x33, 0x3c), 1.0));
    painter.setBrush(fill);
    painter.drawPath(shell);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xd5, 0x4a));
    for (int pin = 0; pin < 5; ++pin)
        painter.drawEllipse(QPointF(3.6 + pin * 2.2, 6.6), 0.85, 0.85);
    for (int pin = 0; pin < 4; ++pin)
        painter.drawEllipse(QPointF(4.7 + pin * 2.2, 9.4), 0.85, 0.85);
    return image;
}

QImage drawServer()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    for (int unit = 0; unit < 3; ++unit) {
        const QRectF box(2, 1.5 + unit * 4.5, 12, 3.8);
        QLinearGradient fill(box.topLeft(), box.bottomLeft());
        fill.setColorAt(0, kSteelLight);
        fill.setColorAt(1, kSteel);
        painter.setPen(QPen(QColor(0x2c, 0x33, 0x3c), 0.8));
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 1, 1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(unit == 0 ? kGreen : QColor(0x7c, 0xd6, 0x8b));
        painter.drawEllipse(QPointF(11.6, box.center().y()), 0.9, 0.9);
        painter.setBrush(QColor(0x2c, 0x33, 0x3c));
        painter.drawRect(QRectF(4, box.center().y() - 0.4, 5, 0.8));
    }
    return image;
}

QImage drawLine()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    // Two terminals joined by a line that carries a pulse.
    QPainterPath signal;
    signal.moveTo(3, 8);
    signal.lineTo(6, 8);
    signal.lineTo(7.3, 4.5);
    signal.lineTo(8.7, 11.5);
    signal.lineTo(10, 8);
    signal.lineTo(13, 8);
    painter.setPen(QPen(kBrandLight, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(signal);
    painter.setPen(QPen(kBrandDark, 1.0));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(2.5, 8), 1.8, 1.8);
    painter.drawEllipse(QPointF(13.5, 8), 1.8, 1.8);
    return image;
}

QImage drawClock()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(QPen(kBrandDark, 1.4));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(8, 8), 6.6, 6.6);
    painter.setPen(QPen(kSteel, 1.0));
    for (int hour = 0; hour < 12; hour += 3) {
        const qreal angle = hour * M_PI / 6;
        painter.drawLine(QPointF(8 + 4.6 * qSin(angle), 8 - 4.6 * qCos(angle)),
                         QPointF(8 + 5.6 * qSin(angle), 8 - 5.6 * qCos(angle)));
    }
    painter.setPen(QPen(QColor(0x2c, 0x33, 0x3c), 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 8), QPointF(8, 3.8));
    painter.drawLine(QPointF(8, 8), QPointF(11, 9.6));
    return image;
}

QImage drawCheck()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    QPainterPath check;
    check.moveTo(2.5, 8.5);
    check.lineTo(6.3, 12.3);
    check.lineTo(13.5, 3.8);
    painter.setPen(QPen(kGreen, 2.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(check);
    return image;
}

QImage drawCross()
{
    QImage image = blankImage(16, 16);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(QPen(kRed, 2.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: drawvelmoraimages <output directory>\n";
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!directory.exists()) {
        err << "no such directory: " << directory.path() << "\n";
        return 1;
    }

    const struct {
        const char *fileName;
        QImage image;
    } images[] = {
        {"velmora-dravix-logo.png", drawLogo()},
        {"velmora-exit-action.png", drawPower()},
        {"velmora-conf-action.png", drawGear()},
        {"velmora-port.png", drawPlug()},
        {"velmora-com-port.png", drawSerialConnector()},
        {"velmora-server.png", drawServer()},
        {"velmora-line.png", drawLine()},
        {"velmora-clock.png", drawClock()},
        {"velmora-ok.png", drawCheck()},
        {"velmora-error.png", drawCross()},
        {"velmora-biglogo.png", drawBigLogo()},
    };
    int result = 0;
    for (const auto &entry : images) {
        const QString path = directory.filePath(QLatin1String(entry.fileName));
        if (!entry.image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
            err << "cannot write " << path << "\n";
            result = 1;
        }
    }
    return result;
}
