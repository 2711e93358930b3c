#include "shell/ui/Images.h"

#include <QPainter>
#include <QPainterPath>

namespace kestrix {

namespace {

// Every image is drawn on a 24-unit grid and scaled to its size.
class Canvas
{
public:
    explicit Canvas(int size) : pixmap_(size, size)
    {
        pixmap_.fill(Qt::transparent);
        painter_.begin(&pixmap_);
        painter_.setRenderHint(QPainter::Antialiasing);
        painter_.scale(size / 24.0, size / 24.0);
    }
    QPainter& P() { return painter_; }
    QPixmap Take()
    {
        painter_.end();
        return pixmap_;
    }
    void Fill(const QPainterPath& path, const QColor& fill, const QColor& line = Qt::black,
              qreal width = 1.2)
    {
        painter_.setPen(QPen(line, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter_.setBrush(fill);
        painter_.drawPath(path);
    }

private:
    QPixmap pixmap_;
    QPainter painter_;
};

QPainterPath Polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : points) {
        if (first)
            path.moveTo(p);
        else
            path.lineTo(p);
        first = false;
    }
    path.closeSubpath();
    return path;
}

// An arrow pointing right, filling most of the grid; rotated for the others.
QPainterPath Arrow()
{
    return Polygon({{3, 9}, {12, 9}, {12, 4}, {21, 12}, {12, 20}, {12, 15}, {3, 15}});
}

QPainterPath Page()
{
    return Polygon({{5, 2}, {15, 2}, {20, 7}, {20, 22}, {5, 22}});
}

QPainterPath Padlock()
{
    QPainterPath path;
    path.addRoundedRect(QRectF(5, 11, 14, 11), 2, 2);
    return path;
}

void DrawPadlock(Canvas& c, const QColor& body)
{
    c.P().setPen(QPen(QColor(90, 90, 90), 2.4));
    c.P().setBrush(Qt::NoBrush);
    c.P().drawArc(QRectF(7.5, 4, 9, 11), 0, 180 * 16);
    c.P().drawLine(QPointF(7.5, 9.5), QPointF(7.5, 12));
    c.P().drawLine(QPointF(16.5, 9.5), QPointF(16.5, 12));
    c.Fill(Padlock(), body, QColor(120, 80, 0));
    c.P().setPen(Qt::NoPen);
    c.P().setBrush(QColor(60, 40, 0));
    c.P().drawEllipse(QPointF(12, 16), 1.6, 1.6);
}

void DrawImage(Canvas& c, int index)
{
    const QColor green(40, 150, 60), blue(40, 100, 200), paper(250, 250, 245);
    QPainter& p = c.P();
    switch (index) {
    case imgUp:
        p.translate(12, 12);
        p.rotate(-90);
        p.translate(-12, -12);
        c.Fill(Arrow(), QColor(230, 180, 40), QColor(120, 90, 0));
        break;
    case imgBack:
        p.translate(24, 0);
        p.scale(-1, 1);
        c.Fill(Arrow(), green, QColor(20, 80, 30));
        break;
    case imgForward:
        c.Fill(Arrow(), green, QColor(20, 80, 30));
        break;
    case imgEdit:
        c.Fill(Page(), paper);
        p.translate(12, 12);
        p.rotate(45);
        c.Fill(Polygon({{-2, -11}, {2, -11}, {2, 6}, {0, 10}, {-2, 6}}), QColor(240, 200, 60),
               QColor(120, 90, 0), 1.0);
        break;
    case imgView: {
        QPainterPath globe;
        globe.addEllipse(QPointF(12, 12), 9.5, 9.5);
        c.Fill(globe, QColor(120, 180, 240), QColor(20, 60, 130));
        p.setPen(QPen(QColor(20, 60, 130), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(12, 12), 4.5, 9.5);
        p.drawLine(QPointF(2.5, 12), QPointF(21.5, 12));
        break;
    }
    case imgEncrypt:
        c.Fill(Page(), paper);
        p.translate(3, 2);
        p.scale(0.75, 0.75);
        DrawPadlock(c, QColor(240, 190, 40));
        break;
    case imgAbout: {
        QPainterPath circle;
        circle.addEllipse(QPointF(12, 12), 10, 10);
        c.Fill(circle, blue, QColor(20, 50, 120));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(12, 7), 1.8, 1.8);
        p.drawRoundedRect(QRectF(10.4, 10, 3.2, 9), 1, 1);
        break;
    }
    case imgPreferences: {
        QPainterPath gear;
        for (int i = 0; i < 8; ++i) {
            QTransform t;
            t.translate(12, 12);
            t.rotate(i * 45);
            gear.addPolygon(t.map(QPolygonF(QRectF(-2, -11, 4, 5))));
        }
        gear.addEllipse(QPointF(12, 12), 7.5, 7.5);
        gear = gear.simplified();
        QPainterPath hole;
        hole.addEllipse(QPointF(12, 12), 3, 3);
        c.Fill(gear.subtracted(hole), QColor(170, 170, 180), QColor(70, 70, 80));
        break;
    }
    case imgExit:
        c.Fill(Polygon({{4, 2}, {16, 2}, {16, 22}, {4, 22}}), QColor(180, 120, 70),
               QColor(90, 50, 20));
        c.Fill(Polygon({{10, 9}, {16, 9}, {16, 5}, {22, 12}, {16, 19}, {16, 15}, {10, 15}}),
               QColor(220, 50, 40), QColor(120, 20, 10), 1.0);
        break;
    case imgSelectAll:
        p.setPen(QPen(QColor(40, 40, 40), 1.2, Qt::DashLine));
        p.setBrush(QColor(200, 220, 250));
        p.drawRect(QRectF(3, 3, 18, 18));
        p.setPen(QPen(QColor(30, 60, 140), 1.6));
        for (int y : {8, 12, 16})
            p.drawLine(QPointF(7, y), QPointF(17, y));
        break;
    case imgRestore: {
        c.Fill(Page(), paper);
        QPainterPath arc;
        arc.arcMoveTo(QRectF(7, 8, 10, 10), 200);
        arc.arcTo(QRectF(7, 8, 10, 10), 200, 250);
        p.setPen(QPen(blue, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        c.Fill(Polygon({{5, 12}, {10.5, 12}, {7.5, 16.5}}), blue, blue, 0.8);
        break;
    }
    default:
        break;
    }
}

} // namespace

QPixmap StripImage(int index, int size)
{
    if (index < 0 || index >= imageCount || index == 5 || index == 6)
        return QPixmap();
    Canvas canvas(size);
    DrawImage(canvas, index);
    return canvas.Take();
}

QIcon StripIcon(int index)
{
    QIcon icon;
    for (int size : {16, 24})
        icon.addPixmap(StripImage(index, size));
    return icon;
}

QPixmap MarkImage(FileMark mark, int size)
{
    Canvas c(size);
    if (mark == markSecured) {
        DrawPadlock(c, QColor(250, 200, 40));
    } else if (mark == markReadOnly) {
        QPainterPath circle;
        circle.addEllipse(QPointF(12, 12), 9, 9);
        c.Fill(circle, Qt::white, QColor(200, 30, 30), 3.0);
        c.P().setPen(QPen(QColor(200, 30, 30), 3.0));
        c.P().drawLine(QPointF(6, 18), QPointF(18, 6));
    }
    return c.Take();
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        Canvas c(size);
        // A shield with a padlock: a page kept safe.
        const QPainterPath shield =
            Polygon({{12, 1}, {21.5, 4.5}, {20.5, 14}, {12, 23}, {3.5, 14}, {2.5, 4.5}});
        c.Fill(shield, QColor(30, 80, 170), QColor(10, 30, 80), 1.0);
        c.P().translate(4.8, 3.6);
        c.P().scale(0.6, 0.6);
        DrawPadlock(c, QColor(250, 200, 40));
        icon.addPixmap(c.Take());
    }
    return icon;
}

} // namespace kestrix
