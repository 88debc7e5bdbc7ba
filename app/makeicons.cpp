// makeicons: a build-time tool that renders the program's icon as PNG
// files, one per size, for the window icon and the desktop menus. Every
// size is drawn from the scalable icon (AddTarnVel.svg), except the small
// ones that have a picture drawn on their own pixel grid: scaled down, the
// scalable icon's outlines fall between pixels and blur.
//   makeicons SVG OUTPUT_FOLDER SIZE[=SVG_FOR_SIZE]...   writes OUTPUT_FOLDER/SIZExSIZE.png
// A picture for one size must be exactly that many units wide and high, so
// that its whole-unit shapes land on whole pixels.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {

std::unique_ptr<QSvgRenderer> Load(const std::string& path) {
  auto renderer = std::make_unique<QSvgRenderer>(QString::fromStdString(path));
  if (!renderer->isValid()) {
    std::cerr << "makeicons: " << path << " is not a readable SVG picture\n";
    return nullptr;
  }
  return renderer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: makeicons SVG OUTPUT_FOLDER SIZE[=SVG_FOR_SIZE]...\n";
    return 2;
  }
  const auto scalable = Load(argv[1]);
  if (!scalable) return 1;
  const QString folder = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto equals = argument.find('=');
    const std::string sizeText = argument.substr(0, equals);
    char* end = nullptr;
    const long size = std::strtol(sizeText.c_str(), &end, 10);
    if (sizeText.empty() || *end != '\0' || size <= 0 || size > 1024) {
      std::cerr << "makeicons: bad size '" << argument << "'\n";
      return 2;
    }
    std::unique_ptr<QSvgRenderer> own;
    if (equals != std::string::npos) {
      own = Load(argument.substr(equals + 1));
      if (!own) return 1;
      if (own->viewBoxF() != QRectF(0, 0, size, size)) {
        std::cerr << "makeicons: " << argument.substr(equals + 1) << " is not drawn on a " << size << "x" << size
                  << " grid (its viewBox must be \"0 0 " << size << " " << size << "\")\n";
        return 1;
      }
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    (own ? *own : *scalable).render(&painter);
    painter.end();
    const QString path = folder + QStringLiteral("/%1x%1.png").arg(size);
    if (!image.save(path, "PNG")) {
      std::cerr << "makeicons: cannot write " << path.toStdString() << "\n";
      return 1;
    }
  }
  return 0;
}
