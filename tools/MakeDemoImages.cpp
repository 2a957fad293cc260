// make-demo-images: draws the few small PNG images of the example resource tree, so that no
// image has to be kept in the repository.
#include <QColor>
#include <QImage>
#include <QString>

#include <filesystem>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make-demo-images DIR" << std::endl;
        return 2;
    }
    const std::filesystem::path directory(argv[1]);
    std::filesystem::create_directories(directory);

    // logo: a 64 x 64 diagonal gradient with a light ring.
    QImage logo(64, 64, QImage::Format_ARGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int dx = x - 32, dy = y - 32, distance = dx * dx + dy * dy;
            const bool ring = distance > 18 * 18 && distance < 24 * 24;
            logo.setPixelColor(x, y, ring ? QColor(240, 240, 250) : QColor(x * 4, y * 4, 160));
        }
    // tile: a 32 x 32 checkerboard of 8-pixel squares.
    QImage tile(32, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            tile.setPixelColor(x, y, ((x / 8 + y / 8) % 2) ? QColor(40, 40, 40) : QColor(220, 200, 120));
    // icon: a 16 x 16 solid square with a one-pixel border.
    QImage icon(16, 16, QImage::Format_RGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            icon.setPixelColor(x, y, (x == 0 || y == 0 || x == 15 || y == 15) ? QColor(0, 0, 0) : QColor(30, 144, 255));

    const struct {
        const char* name;
        const QImage* image;
    } images[] = {{"logo.png", &logo}, {"tile.png", &tile}, {"icon.png", &icon}};
    for (const auto& entry : images) {
        const std::string path = (directory / entry.name).string();
        if (!entry.image->save(QString::fromStdString(path), "PNG")) {
            std::cerr << "make-demo-images: " << path << ": cannot write" << std::endl;
            return 1;
        }
    }
    return 0;
}
