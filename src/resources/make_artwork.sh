#!/usr/bin/env bash
# Draws the window's two pictures: the 512x512 logo (PNG with alpha) and the
# 468x60 banner (JPEG). The results are checked in; run this to redraw them.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cat > "$work/artwork.cpp" <<'CPP'
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

static void drawMark(QPainter &p, QRectF r)
{
    // An orbit around a planet: the "O" of the product name.
    QRadialGradient planet(r.center() - QPointF(r.width() * 0.12, r.height() * 0.12), r.width() * 0.45);
    planet.setColorAt(0.0, QColor(120, 200, 255));
    planet.setColorAt(1.0, QColor(10, 60, 140));
    p.setPen(Qt::NoPen);
    p.setBrush(planet);
    const QRectF body = r.adjusted(r.width() * 0.2, r.height() * 0.2, -r.width() * 0.2, -r.height() * 0.2);
    p.drawEllipse(body);
    QPen ring(QColor(255, 170, 40), r.width() * 0.05, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    p.save();
    p.translate(r.center());
    p.rotate(-25);
    p.drawArc(QRectF(-r.width() * 0.48, -r.height() * 0.16, r.width() * 0.96, r.height() * 0.32), 200 * 16, 320 * 16);
    p.restore();
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QImage logo(512, 512, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    {
        QPainter p(&logo);
        p.setRenderHint(QPainter::Antialiasing);
        drawMark(p, QRectF(16, 16, 480, 480));
    }
    logo.save(argv[1], "PNG");

    QImage banner(468, 60, QImage::Format_RGB32);
    {
        QPainter p(&banner);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 468, 60);
        sky.setColorAt(0.0, QColor(8, 24, 64));
        sky.setColorAt(1.0, QColor(20, 90, 160));
        p.fillRect(banner.rect(), sky);
        drawMark(p, QRectF(6, 4, 52, 52));
        QFont font("DejaVu Sans", 20, QFont::Bold);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(70, 0, 390, 60), Qt::AlignVCenter | Qt::AlignLeft, "Orvane 3");
        p.setFont(QFont("DejaVu Sans", 10));
        p.setPen(QColor(190, 220, 255));
        p.drawText(QRectF(210, 0, 250, 60), Qt::AlignVCenter | Qt::AlignRight, "Keeping your client up to date");
    }
    banner.save(argv[2], "JPEG", 90);
    return 0;
}
CPP
g++ -std=c++17 -fPIC -o "$work/artwork" "$work/artwork.cpp" $(pkg-config --cflags --libs Qt5Gui)
QT_QPA_PLATFORM=offscreen "$work/artwork" "$here/orvane_logo.png" "$here/orvane_banner.jpg"
