// Renders the SVG artwork in resources/icons/src to the PNG files the resource
// file compiles in. Run by hand after changing the artwork:
//   g++ -fPIC render-icons.cpp $(pkg-config --cflags --libs Qt5Svg Qt5Gui) -o /tmp/render-icons
//   QT_QPA_PLATFORM=offscreen /tmp/render-icons <svg> <png> <width> <height>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: render-icons <svg> <png> <width> <height>\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid())
        return 1;
    QImage image(QString::fromLocal8Bit(argv[3]).toInt(), QString::fromLocal8Bit(argv[4]).toInt(),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
