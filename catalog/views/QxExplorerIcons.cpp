// The explorer's icons, painted at 16 x 16 with QPainter so they need no files or icon theme and
// look the same on every platform. Built on first use; released when the application ends so
// a later application builds them again.

#include "catalog/views/QxExplorerIcons.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>
#include <cmath>

#include "catalog/views/QxSvrExplore.h"

namespace {

constexpr int kSize = 16;

using Icons = std::array<QIcon, TQxSvrExplore::imImageCount>;

Icons* g_icons = nullptr;

void Release() {
  delete g_icons;
  g_icons = nullptr;
}

// A table: a header band in Header's colour over a white grid.
void Table(QPainter& p, QColor header) {
  p.setPen(QColor(70, 70, 70));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 2.5, 13, 11));
  p.fillRect(QRectF(2, 3, 12, 3), header);
  p.setPen(QColor(150, 150, 150));
  for (double y : {8.5, 11.0}) p.drawLine(QPointF(2, y), QPointF(14, y));
  p.drawLine(QPointF(6.5, 6), QPointF(6.5, 13));
  p.drawLine(QPointF(10.5, 6), QPointF(10.5, 13));
}

void Person(QPainter& p, QPointF at, QColor colour, double scale = 1.0) {
  p.setPen(colour.darker(140));
  p.setBrush(colour);
  p.drawEllipse(QPointF(at.x(), at.y() - 3.5 * scale), 2.6 * scale, 2.6 * scale);
  QPainterPath body;
  body.moveTo(at.x() - 4.5 * scale, at.y() + 5.5 * scale);
  body.cubicTo(at.x() - 4.5 * scale, at.y() - 0.5 * scale, at.x() + 4.5 * scale, at.y() - 0.5 * scale,
               at.x() + 4.5 * scale, at.y() + 5.5 * scale);
  body.closeSubpath();
  p.drawPath(body);
}

void Letter(QPainter& p, const QString& text, QColor back, QColor fore) {
  p.setPen(back.darker(130));
  p.setBrush(back);
  p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
  QFont f = p.font();
  f.setPixelSize(11);
  f.setBold(true);
  p.setFont(f);
  p.setPen(fore);
  p.drawText(QRectF(0, 0, kSize, kSize), Qt::AlignCenter, text);
}

void Key(QPainter& p, QColor colour) {
  p.setPen(QPen(colour.darker(150), 1.2));
  p.setBrush(colour);
  p.drawEllipse(QPointF(5, 8), 3.5, 3.5);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(4.5, 8), 1.1, 1.1);
  p.setBrush(colour);
  p.drawRect(QRectF(8, 7, 6.5, 2));
  p.drawRect(QRectF(12, 9, 1.5, 2.5));
  p.drawRect(QRectF(10, 9, 1.2, 1.8));
}

void Paint(int image, QPainter& p) {
  using E = TQxSvrExplore;
  switch (image) {
    case E::imDatabase: {
      const QColor c(66, 110, 170);
      p.setPen(c.darker(150));
      p.setBrush(c);
      p.drawRect(QRectF(2.5, 3.5, 11, 9));
      p.drawEllipse(QRectF(2.5, 10, 11, 4.5));
      p.setBrush(c.lighter(150));
      p.drawEllipse(QRectF(2.5, 1.5, 11, 4.5));
      p.setPen(c.lighter(170));
      p.drawArc(QRectF(2.5, 5.5, 11, 4.5), 200 * 16, 140 * 16);
      break;
    }
    case E::imUsers:
      Person(p, QPointF(8, 8.5), QColor(70, 160, 80));
      break;
    case E::imGroups:
      Person(p, QPointF(10.5, 8.5), QColor(120, 170, 210), 0.85);
      Person(p, QPointF(5.5, 9.5), QColor(70, 160, 80), 0.85);
      break;
    case E::imSystemTables:
      Table(p, QColor(170, 60, 50));
      break;
    case E::imUserTables:
      Table(p, QColor(50, 100, 180));
      break;
    case E::imViews: {
      p.setPen(QColor(90, 50, 140));
      p.setBrush(QColor(230, 220, 245));
      QPainterPath eye;
      eye.moveTo(1, 8);
      eye.quadTo(8, 1, 15, 8);
      eye.quadTo(8, 15, 1, 8);
      p.drawPath(eye);
      p.setBrush(QColor(120, 70, 180));
      p.drawEllipse(QPointF(8, 8), 3, 3);
      p.setBrush(Qt::black);
      p.drawEllipse(QPointF(8, 8), 1.2, 1.2);
      break;
    }
    case E::imIndexes: {
      const QColor c(220, 130, 30);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      for (int i = 0; i < 4; ++i) p.drawRect(QRectF(1, 2 + i * 3.2, 3 + i * 2.2, 2));
      p.setPen(QPen(c.darker(150), 1.5));
      p.drawLine(QPointF(12.5, 2), QPointF(12.5, 13));
      p.drawLine(QPointF(10, 10.5), QPointF(12.5, 13.5));
      p.drawLine(QPointF(15, 10.5), QPointF(12.5, 13.5));
      break;
    }
    case E::imTriggers: {
      QPainterPath bolt;
      bolt.moveTo(9.5, 0.5);
      bolt.lineTo(3, 9);
      bolt.lineTo(7.5, 9);
      bolt.lineTo(5.5, 15.5);
      bolt.lineTo(13, 6.5);
      bolt.lineTo(8.5, 6.5);
      bolt.closeSubpath();
      p.setPen(QColor(170, 110, 0));
      p.setBrush(QColor(255, 200, 40));
      p.drawPath(bolt);
      break;
    }
    case E::imProcedures: {
      const QColor c(40, 140, 140);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(8, 8);
        p.rotate(i * 45.0);
        p.drawRect(QRectF(-1.3, -7.5, 2.6, 3.5));
        p.restore();
      }
      p.drawEllipse(QPointF(8, 8), 5, 5);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(8, 8), 2, 2);
      break;
    }
    case E::imRules: {
      p.setPen(QColor(60, 60, 60));
      p.setBrush(QColor(250, 250, 240));
      p.drawRect(QRectF(1.5, 1.5, 13, 13));
      p.setPen(QPen(QColor(30, 140, 50), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF({QPointF(4, 8), QPointF(7, 11.5), QPointF(12.5, 4)}));
      break;
    }
    case E::imUserDatatypes:
      Letter(p, QStringLiteral("T"), QColor(60, 120, 200), Qt::white);
      break;
    case E::imSystemDatatypes:
      Letter(p, QStringLiteral("T"), QColor(150, 150, 150), Qt::white);
      break;
    case E::imSegments: {
      const QRectF r(1.5, 1.5, 13, 13);
      p.setPen(QColor(30, 90, 90));
      p.setBrush(QColor(70, 170, 160));
      p.drawPie(r, 90 * 16, 250 * 16);
      p.setBrush(QColor(150, 220, 210));
      p.drawPie(r.translated(0.8, -0.8), 340 * 16, 110 * 16);
      break;
    }
    case E::imFields: {
      p.setPen(QColor(70, 70, 70));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 2.5, 13, 11));
      p.fillRect(QRectF(6, 3, 4, 10), QColor(120, 170, 230));
      p.setPen(QColor(150, 150, 150));
      p.drawLine(QPointF(5.5, 3), QPointF(5.5, 13));
      p.drawLine(QPointF(10.5, 3), QPointF(10.5, 13));
      break;
    }
    case E::imParameters:
      Letter(p, QStringLiteral("( )"), QColor(235, 225, 200), QColor(120, 80, 20));
      break;
    case E::imPrimaryFields:
      Key(p, QColor(230, 180, 40));
      break;
    case E::imColumn: {
      p.setPen(QColor(40, 80, 140));
      p.setBrush(QColor(200, 220, 250));
      p.drawRect(QRectF(5.5, 1.5, 5, 13));
      p.fillRect(QRectF(6, 2, 4, 3), QColor(50, 100, 180));
      break;
    }
    case E::imParameter: {
      QFont f = p.font();
      f.setPixelSize(13);
      f.setBold(true);
      p.setFont(f);
      p.setPen(QColor(130, 80, 20));
      p.drawText(QRectF(0, 0, kSize, kSize), Qt::AlignCenter, QStringLiteral("@"));
      break;
    }
    default:
      break;
  }
}

}  // namespace

const QIcon& ExplorerIcon(int image) {
  static const QIcon kNone;
  if (image < 0 || image >= TQxSvrExplore::imImageCount) return kNone;
  if (!g_icons) {
    g_icons = new Icons;
    for (int i = 0; i < TQxSvrExplore::imImageCount; ++i) {
      QPixmap pixmap(kSize, kSize);
      pixmap.fill(Qt::transparent);
      QPainter p(&pixmap);
      p.setRenderHint(QPainter::Antialiasing);
      Paint(i, p);
      p.end();
      (*g_icons)[static_cast<size_t>(i)] = QIcon(pixmap);
    }
    qAddPostRoutine(Release);
  }
  return (*g_icons)[static_cast<size_t>(image)];
}
