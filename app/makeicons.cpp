// makeicons: a build-time tool that renders the window's icon (AddTarnVel.xpm)
// as PNG files for desktop menus, one per size, so that the menu and the
// window show the same picture.
//   makeicons OUTPUT_FOLDER SIZE...   writes OUTPUT_FOLDER/SIZExSIZE.png
#include <QImage>
#include <QString>
#include <cstdlib>
#include <iostream>
#include <string>

#include "AddTarnVel.xpm"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: makeicons OUTPUT_FOLDER SIZE...\n";
    return 2;
  }
  const QImage source(AddTarnVel_xpm);
  if (source.isNull()) {
    std::cerr << "makeicons: the icon source cannot be read\n";
    return 1;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0 || size > 1024) {
      std::cerr << "makeicons: bad size '" << argv[i] << "'\n";
      return 2;
    }
    // The source is pixel art: enlarging keeps its hard edges, shrinking
    // averages so that thin lines do not vanish.
    const Qt::TransformationMode mode =
        size >= source.width() ? Qt::FastTransformation : Qt::SmoothTransformation;
    const QImage image = source.convertToFormat(QImage::Format_ARGB32).scaled(size, size, Qt::KeepAspectRatio, mode);
    const QString path = folder + QStringLiteral("/%1x%1.png").arg(size);
    if (!image.save(path, "PNG")) {
      std::cerr << "makeicons: cannot write " << path.toStdString() << "\n";
      return 1;
    }
  }
  return 0;
}
