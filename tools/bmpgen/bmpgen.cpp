// Draws the about window's picture, a hand-held instrument with its cable, display and keys,
// and writes it as the Windows bitmap the window shows: 54 x 96 pixels, 4 bits per pixel with
// the standard 16-colour palette, uncompressed, 2806 bytes.
//
//     bmpgen <output.bmp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int Width = 54;
constexpr int Height = 96;
constexpr int RowBytes = (Width * 4 + 31) / 32 * 4; // rows are padded to whole 32-bit words
constexpr int HeaderBytes = 14 + 40 + 16 * 4;
constexpr int ImageBytes = RowBytes * Height;
constexpr int FileBytes = HeaderBytes + ImageBytes;
static_assert(FileBytes == 2806, "the picture's file size is fixed");

// The standard 16-colour palette, as red, green, blue.
constexpr std::array<std::array<std::uint8_t, 3>, 16> Palette = {{
    {0, 0, 0},
    {128, 0, 0},
    {0, 128, 0},
    {128, 128, 0},
    {0, 0, 128},
    {128, 0, 128},
    {0, 128, 128},
    {192, 192, 192},
    {128, 128, 128},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {255, 255, 255},
}};

enum Colour : std::uint8_t {
    Black = 0,
    DarkRed = 1,
    DarkYellow = 3,
    DarkBlue = 4,
    DarkCyan = 6,
    LightGray = 7,
    Gray = 8,
    Red = 9,
    Green = 10,
    Yellow = 11,
    Blue = 12,
    White = 15,
};

// Palette indices, top row first.
class Canvas {
public:
    explicit Canvas(Colour background) : m_pixels(Width * Height, background) {}

    void set(int x, int y, Colour c)
    {
        if (x >= 0 && x < Width && y >= 0 && y < Height)
            m_pixels[y * Width + x] = c;
    }
    std::uint8_t at(int x, int y) const { return m_pixels[y * Width + x]; }

    void fill(int x0, int y0, int x1, int y1, Colour c)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                set(x, y, c);
    }
    void frame(int x0, int y0, int x1, int y1, Colour c)
    {
        for (int x = x0; x <= x1; ++x) {
            set(x, y0, c);
            set(x, y1, c);
        }
        for (int y = y0; y <= y1; ++y) {
            set(x0, y, c);
            set(x1, y, c);
        }
    }
    // A filled box with an outline and corners cut by radius pixels.
    void roundBox(int x0, int y0, int x1, int y1, int radius, Colour fillColour, Colour line)
    {
        for (int y = y0; y <= y1; ++y) {
            const int fromTop = y - y0;
            const int fromBottom = y1 - y;
            const int edge = std::min(fromTop, fromBottom);
            const int inset = edge < radius ? radius - edge : 0;
            for (int x = x0 + inset; x <= x1 - inset; ++x) {
                const bool border = x == x0 + inset || x == x1 - inset || y == y0 || y == y1;
                set(x, y, border ? line : fillColour);
            }
        }
    }
    // A seven-segment digit, 5 wide and 9 high, with its top-left corner at x, y.
    void digit(int x, int y, int value, Colour c)
    {
        // Segments a to g, as bits 0 to 6.
        static constexpr std::array<std::uint8_t, 10> Segments = {0x3f, 0x06, 0x5b, 0x4f, 0x66,
                                                                  0x6d, 0x7d, 0x07, 0x7f, 0x6f};
        const std::uint8_t s = Segments[value];
        auto across = [&](int row) {
            for (int i = 1; i <= 3; ++i)
                set(x + i, y + row, c);
        };
        auto down = [&](int column, int row) {
            for (int i = 1; i <= 3; ++i)
                set(x + column, y + row + i, c);
        };
        if (s & 0x01)
            across(0);
        if (s & 0x02)
            down(4, 0);
        if (s & 0x04)
            down(4, 4);
        if (s & 0x08)
            across(8);
        if (s & 0x10)
            down(0, 4);
        if (s & 0x20)
            down(0, 0);
        if (s & 0x40)
            across(4);
    }

private:
    std::vector<std::uint8_t> m_pixels;
};

void drawInstrument(Canvas &c)
{
    // The cable leaves the top of the case through a strain relief.
    c.fill(25, 0, 28, 5, Black);
    c.fill(26, 0, 27, 5, Gray);
    c.fill(22, 5, 31, 8, DarkYellow);
    c.frame(22, 5, 31, 8, Black);

    // The case with a lighter front panel.
    c.roundBox(4, 9, 49, 94, 4, Gray, Black);
    c.roundBox(7, 12, 46, 91, 3, LightGray, Gray);

    // The maker's stripe above the display.
    c.fill(10, 15, 43, 17, DarkBlue);

    // The display, showing a reading.
    c.fill(10, 20, 43, 37, Black);
    c.fill(12, 22, 41, 35, DarkCyan);
    c.fill(13, 23, 40, 34, Green);
    c.digit(14, 24, 1, Black);
    c.digit(20, 24, 2, Black);
    c.set(26, 32, Black);
    c.digit(28, 24, 5, Black);
    c.digit(34, 24, 0, Black);

    // Three rows of keys; the middle row holds Recall (blue) and Save (red).
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const int x = 11 + col * 11;
            const int y = 43 + row * 11;
            Colour face = White;
            if (row == 1 && col == 0)
                face = Blue;
            if (row == 1 && col == 2)
                face = Red;
            c.fill(x, y, x + 8, y + 6, face);
            c.frame(x, y, x + 8, y + 6, Black);
            // A shadow under each key.
            c.fill(x + 1, y + 7, x + 9, y + 7, Gray);
            c.fill(x + 9, y + 1, x + 9, y + 7, Gray);
        }
    }

    // The power switch and its lamp.
    c.fill(11, 78, 20, 82, Black);
    c.fill(12, 79, 15, 81, Yellow);
    c.fill(38, 79, 41, 82, DarkRed);
    c.fill(39, 80, 40, 81, Red);

    // Grip lines at the foot of the case.
    for (int y = 86; y <= 89; y += 3)
        c.fill(16, y, 37, y, Gray);
}

void put16(std::vector<std::uint8_t> &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xff));
}

std::vector<std::uint8_t> encode(const Canvas &c)
{
    std::vector<std::uint8_t> out;
    out.reserve(FileBytes);
    // File header.
    out.push_back('B');
    out.push_back('M');
    put32(out, FileBytes);
    put32(out, 0);
    put32(out, HeaderBytes);
    // Information header.
    put32(out, 40);
    put32(out, Width);
    put32(out, Height); // positive: the bottom row comes first
    put16(out, 1);      // planes
    put16(out, 4);      // bits per pixel
    put32(out, 0);      // no compression
    put32(out, ImageBytes);
    put32(out, 3790); // pixels per metre, across
    put32(out, 3780); // pixels per metre, down
    put32(out, 16);   // palette entries
    put32(out, 0);    // all of them matter
    for (const auto &rgb : Palette) {
        out.push_back(rgb[2]);
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    for (int y = Height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(RowBytes, 0);
        for (int x = 0; x < Width; ++x) {
            const std::uint8_t index = c.at(x, y);
            row[x / 2] |= x % 2 == 0 ? static_cast<std::uint8_t>(index << 4) : index;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.bmp>\n", argv[0]);
        return 2;
    }
    Canvas canvas(White);
    drawInstrument(canvas);
    const std::vector<std::uint8_t> bytes = encode(canvas);

    std::FILE *file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
