// makeicons: a build-time tool that renders the program's scalable icon
// (AddTarnVel.svg) as PNG files, one per size, for the window icon and the
// desktop menus, so that every size is drawn from the one picture.
//   makeicons SVG OUTPUT_FOLDER SIZE...   writes OUTPUT_FOLDER/SIZExSIZE.png
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: makeicons SVG OUTPUT_FOLDER SIZE...\n";
    return 2;
  }
  QSvgRenderer source(QString::fromLocal8Bit(argv[1]));
  if (!source.isValid()) {
    std::cerr << "makeicons: " << argv[1] << " is not a readable SVG picture\n";
    return 1;
  }
  const QString folder = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0 || size > 1024) {
      std::cerr << "makeicons: bad size '" << argv[i] << "'\n";
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    source.render(&painter);
    painter.end();
    const QString path = folder + QStringLiteral("/%1x%1.png").arg(size);
    if (!image.save(path, "PNG")) {
      std::cerr << "makeicons: cannot write " << path.toStdString() << "\n";
      return 1;
    }
  }
  return 0;
}
