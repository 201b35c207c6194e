// Draws the updater's icon (icon group 128) and writes it as an .ico file
// with 16, 32 and 48 pixel images, 32 bits per pixel: a card printer with
// a card in its slot and an arrow pointing into it.
//   make_icon OUT.ico
// A host program, standard library only: cross builds run it on the build
// machine.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kBody{0x2B, 0x4C, 0x7E, 0xFF};    // printer body
constexpr Rgba kEdge{0x16, 0x2A, 0x47, 0xFF};    // its outline
constexpr Rgba kSlot{0x0D, 0x17, 0x26, 0xFF};    // card slot
constexpr Rgba kCard{0xF5, 0xF7, 0xFA, 0xFF};    // the card
constexpr Rgba kStripe{0xE0, 0x8A, 0x1E, 0xFF};  // the card's stripe
constexpr Rgba kArrow{0x2E, 0xA0, 0x43, 0xFF};   // the update arrow
constexpr Rgba kLight{0x7C, 0xE3, 0x8B, 0xFF};   // status light

class Image {
public:
    explicit Image(int size) : m_size(size), m_pixels(static_cast<size_t>(size * size), kClear) {}

    // Fills the rectangle given in units of a 48-pixel grid.
    void Fill(double x0, double y0, double x1, double y1, Rgba c) {
        const double s = m_size / 48.0;
        for (int y = 0; y < m_size; ++y)
            for (int x = 0; x < m_size; ++x) {
                const double cx = (x + 0.5) / s, cy = (y + 0.5) / s;
                if (cx >= x0 && cx < x1 && cy >= y0 && cy < y1) At(x, y) = c;
            }
    }
    // Fills the triangle given in units of a 48-pixel grid.
    void Triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgba c) {
        const double s = m_size / 48.0;
        auto side = [](double px, double py, double qx, double qy, double x, double y) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        for (int y = 0; y < m_size; ++y)
            for (int x = 0; x < m_size; ++x) {
                const double px = (x + 0.5) / s, py = (y + 0.5) / s;
                const double d1 = side(ax, ay, bx, by, px, py);
                const double d2 = side(bx, by, cx, cy, px, py);
                const double d3 = side(cx, cy, ax, ay, px, py);
                const bool neg = d1 < 0 || d2 < 0 || d3 < 0;
                const bool pos = d1 > 0 || d2 > 0 || d3 > 0;
                if (!(neg && pos)) At(x, y) = c;
            }
    }

    int size() const { return m_size; }
    const Rgba& Pixel(int x, int y) const { return m_pixels[static_cast<size_t>(y * m_size + x)]; }

private:
    Rgba& At(int x, int y) { return m_pixels[static_cast<size_t>(y * m_size + x)]; }
    int m_size;
    std::vector<Rgba> m_pixels;
};

Image Draw(int size) {
    Image img(size);
    // The arrow, pointing down into the printer.
    img.Fill(20, 1, 28, 12, kArrow);
    img.Triangle(13, 11, 35, 11, 24, 21, kArrow);
    // Body with an outline.
    img.Fill(3, 18, 45, 44, kEdge);
    img.Fill(5, 20, 43, 42, kBody);
    // The slot and the card sticking out of it.
    img.Fill(9, 25, 39, 29, kSlot);
    img.Fill(12, 29, 36, 40, kCard);
    img.Fill(12, 32, 36, 35, kStripe);
    // Status light.
    img.Fill(38, 36, 42, 40, kLight);
    return img;
}

void Put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER of double height, the BGRA pixels
// bottom-up, then the 1-bit AND mask (rows padded to 32 bits).
std::vector<uint8_t> IconImage(const Image& img) {
    const int n = img.size();
    std::vector<uint8_t> out;
    Put32(&out, 40);
    Put32(&out, static_cast<uint32_t>(n));
    Put32(&out, static_cast<uint32_t>(n * 2));
    Put16(&out, 1);
    Put16(&out, 32);
    Put32(&out, 0);
    const uint32_t maskRow = static_cast<uint32_t>((n + 31) / 32 * 4);
    Put32(&out, static_cast<uint32_t>(n * n * 4) + maskRow * static_cast<uint32_t>(n));
    for (int k = 0; k < 4; ++k) Put32(&out, 0);
    for (int y = n - 1; y >= 0; --y)
        for (int x = 0; x < n; ++x) {
            const Rgba& p = img.Pixel(x, y);
            out.insert(out.end(), {p.b, p.g, p.r, p.a});
        }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskRow, 0);
        for (int x = 0; x < n; ++x)
            if (img.Pixel(x, y).a == 0) row[static_cast<size_t>(x / 8)] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: make_icon OUT.ico\n  Writes the updater's icon.\n");
        return argc == 2 && std::string_view(argv[1]) == "--help" ? 0 : 64;
    }
    const int sizes[] = {16, 32, 48};
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes) images.push_back(IconImage(Draw(s)));

    std::vector<uint8_t> file;
    Put16(&file, 0);  // reserved
    Put16(&file, 1);  // icon
    Put16(&file, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t k = 0; k < images.size(); ++k) {
        file.push_back(static_cast<uint8_t>(sizes[k]));
        file.push_back(static_cast<uint8_t>(sizes[k]));
        file.push_back(0);  // no palette
        file.push_back(0);
        Put16(&file, 1);   // planes
        Put16(&file, 32);  // bits per pixel
        Put32(&file, static_cast<uint32_t>(images[k].size()));
        Put32(&file, offset);
        offset += static_cast<uint32_t>(images[k].size());
    }
    for (const auto& img : images) file.insert(file.end(), img.begin(), img.end());

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
