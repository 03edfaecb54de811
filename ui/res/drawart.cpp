// Draws remover's bitmaps and icon in the standard 16-colour palette and writes them as
// 4-bit BMP and ICO files. A build-machine program, run by the build:
//     drawart OUT_DIR    (writes picture.bmp, check.bmp and remover.ico there)
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

enum Colour {
    BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER,
    GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE, CLEAR = -1
};

static const uint8_t PALETTE[16][3] = {   // R, G, B
    {0, 0, 0}, {128, 0, 0}, {0, 128, 0}, {128, 128, 0},
    {0, 0, 128}, {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

// Pattern letters by palette index: blacK, Maroon, Green, Olive, Navy, Purple, Teal, Silver,
// grAy, Red, Lime, Yellow, Blue, Fuchsia, aQua, White.
static const char LEGEND[] = "kmgonptsArlybfqw";

struct Canvas {
    int w, h;
    int background;
    std::vector<int> px;
    Canvas(int width, int height, int fill)
        : w(width), h(height), background(fill), px(width * height, fill) {}
    // Back to the canvas's own background (the key colour, or transparent in an icon).
    void Erase(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < w && y < h)
            px[y * w + x] = background;
    }
    void Put(int x, int y, int c)
    {
        if (c != CLEAR && x >= 0 && y >= 0 && x < w && y < h)
            px[y * w + x] = c;
    }
    int Get(int x, int y) const { return px[y * w + x]; }
    void Fill(int x0, int y0, int x1, int y1, int c)
    {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                Put(x, y, c);
    }
    void HLine(int x0, int x1, int y, int c) { Fill(x0, y, x1, y, c); }
    void VLine(int x, int y0, int y1, int c) { Fill(x, y0, x, y1, c); }
    // Checkerboard of two colours: the period way to get a shade between two palette entries.
    void Dither(int x0, int y0, int x1, int y1, int a, int b)
    {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                Put(x, y, ((x + y) & 1) ? b : a);
    }
    // Raised box: light top and left, dark bottom and right, black outline outside.
    void Bevel(int x0, int y0, int x1, int y1, int face, int light, int shade, int outline)
    {
        Fill(x0, y0, x1, y1, face);
        HLine(x0, x1 - 1, y0, light);
        VLine(x0, y0, y1 - 1, light);
        HLine(x0 + 1, x1, y1, shade);
        VLine(x1, y0 + 1, y1, shade);
        if (outline != CLEAR) {
            HLine(x0, x1 + 1, y1 + 1, outline);
            VLine(x1 + 1, y0, y1 + 1, outline);
        }
    }
    // Sunken well: dark top and left, light bottom and right.
    void Well(int x0, int y0, int x1, int y1, int face)
    {
        Fill(x0, y0, x1, y1, face);
        HLine(x0, x1, y0, GRAY);
        VLine(x0, y0, y1, GRAY);
        HLine(x0 + 1, x1, y1, WHITE);
        VLine(x1, y0 + 1, y1, WHITE);
    }
    void Line(int x0, int y0, int x1, int y1, int c)
    {
        int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            Put(x0, y0, c);
            if (x0 == x1 && y0 == y1)
                break;
            int e2 = 2 * err;
            if (e2 >= dy) { err += dy; x0 += sx; }
            if (e2 <= dx) { err += dx; y0 += sy; }
        }
    }
    // Rows of letters, one per pixel, by LEGEND; '.' leaves the pixel as it is.
    void Pattern(int x0, int y0, const char *const *rows)
    {
        for (int y = 0; rows[y]; y++)
            for (int x = 0; rows[y][x]; x++) {
                const char *k = strchr(LEGEND, rows[y][x]);
                if (k && rows[y][x] != '.')
                    Put(x0 + x, y0 + y, static_cast<int>(k - LEGEND));
            }
    }
};

// ---- Files ----------------------------------------------------------------------------------

static void Le16(std::vector<uint8_t> &b, unsigned v) { b.push_back(v & 255); b.push_back(v >> 8 & 255); }
static void Le32(std::vector<uint8_t> &b, unsigned v) { Le16(b, v & 0xFFFF); Le16(b, v >> 16); }

static void InfoHeader(std::vector<uint8_t> &b, int w, int h, unsigned imageSize)
{
    Le32(b, 40); Le32(b, w); Le32(b, h); Le16(b, 1); Le16(b, 4); Le32(b, 0);
    Le32(b, imageSize); Le32(b, 2835); Le32(b, 2835); Le32(b, 16); Le32(b, 0);
    for (auto &c : PALETTE) { b.push_back(c[2]); b.push_back(c[1]); b.push_back(c[0]); b.push_back(0); }
}

// 4-bit rows, bottom-up, each padded to 4 bytes.
static void Pixels4(std::vector<uint8_t> &b, const Canvas &c, int clearAs)
{
    int stride = ((c.w + 7) / 8) * 4;
    for (int y = c.h - 1; y >= 0; y--) {
        std::vector<uint8_t> row(stride, 0);
        for (int x = 0; x < c.w; x++) {
            int v = c.Get(x, y);
            if (v == CLEAR)
                v = clearAs;
            row[x / 2] |= x % 2 ? v : v << 4;
        }
        b.insert(b.end(), row.begin(), row.end());
    }
}

static void Save(const std::string &path, const std::vector<uint8_t> &b)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size() || fclose(f) != 0) {
        fprintf(stderr, "drawart: cannot write %s\n", path.c_str());
        exit(1);
    }
}

static void SaveBmp(const std::string &path, const Canvas &c)
{
    std::vector<uint8_t> pixels;
    Pixels4(pixels, c, BLACK);
    std::vector<uint8_t> b = {'B', 'M'};
    Le32(b, 14 + 40 + 64 + pixels.size()); Le32(b, 0); Le32(b, 14 + 40 + 64);
    InfoHeader(b, c.w, c.h, pixels.size());
    b.insert(b.end(), pixels.begin(), pixels.end());
    Save(path, b);
}

// An icon file of 4-bit images; CLEAR pixels are transparent (AND mask set, colour black).
static void SaveIco(const std::string &path, const std::vector<const Canvas *> &images)
{
    std::vector<std::vector<uint8_t>> bodies;
    for (const Canvas *c : images) {
        std::vector<uint8_t> pixels, body;
        Pixels4(pixels, *c, BLACK);
        int maskStride = ((c->w + 31) / 32) * 4;
        std::vector<uint8_t> mask;
        for (int y = c->h - 1; y >= 0; y--) {
            std::vector<uint8_t> row(maskStride, 0);
            for (int x = 0; x < c->w; x++)
                if (c->Get(x, y) == CLEAR)
                    row[x / 8] |= 0x80 >> (x % 8);
            mask.insert(mask.end(), row.begin(), row.end());
        }
        InfoHeader(body, c->w, c->h * 2, pixels.size() + mask.size());
        body.insert(body.end(), pixels.begin(), pixels.end());
        body.insert(body.end(), mask.begin(), mask.end());
        bodies.push_back(body);
    }
    std::vector<uint8_t> b;
    Le16(b, 0); Le16(b, 1); Le16(b, images.size());
    unsigned offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); i++) {
        b.push_back(images[i]->w); b.push_back(images[i]->h); b.push_back(16); b.push_back(0);
        Le16(b, 1); Le16(b, 4); Le32(b, bodies[i].size()); Le32(b, offset);
        offset += bodies[i].size();
    }
    for (auto &body : bodies)
        b.insert(b.end(), body.begin(), body.end());
    Save(path, b);
}

// ---- The picture: a desktop computer, diskettes and compact discs --------------------------

static void Monitor(Canvas &c, int x0, int y0)
{
    const int x1 = x0 + 79, y1 = y0 + 70;
    // Casing with a rounded look: corners knocked off.
    c.Bevel(x0, y0, x1, y1, SILVER, WHITE, GRAY, BLACK);
    c.Erase(x0, y0); c.Erase(x1, y0); c.Erase(x1 + 1, y0);
    c.Erase(x0, y1); c.Erase(x0, y1 + 1);
    c.Erase(x1 + 1, y1 + 1); c.Put(x1, y1 + 1, BLACK); c.Put(x1 + 1, y1, BLACK);
    c.HLine(x0 + 2, x1 - 2, y0 + 1, WHITE);
    c.VLine(x1 - 1, y0 + 2, y1 - 1, GRAY);
    // Bezel around the glass.
    const int gx0 = x0 + 6, gy0 = y0 + 5, gx1 = x1 - 6, gy1 = y1 - 14;
    c.Fill(gx0 - 2, gy0 - 2, gx1 + 2, gy1 + 2, GRAY);
    c.HLine(gx0 - 2, gx1 + 2, gy1 + 2, WHITE);
    c.VLine(gx1 + 2, gy0 - 2, gy1 + 2, WHITE);
    c.Fill(gx0 - 1, gy0 - 1, gx1 + 1, gy1 + 1, BLACK);
    // The glass: the blue setup screen of the period, darker at the top.
    int height = gy1 - gy0 + 1;
    for (int y = gy0; y <= gy1; y++) {
        int band = (y - gy0) * 4 / height;
        if (band == 0)
            c.HLine(gx0, gx1, y, NAVY);
        else if (band == 1)
            for (int x = gx0; x <= gx1; x++)
                c.Put(x, y, ((x + y) & 1) && (y & 1) ? BLUE : NAVY);
        else if (band == 2)
            c.Dither(gx0, y, gx1, y, NAVY, BLUE);
        else
            for (int x = gx0; x <= gx1; x++)
                c.Put(x, y, ((x + y) & 1) || (y & 1) ? BLUE : NAVY);
    }
    // A small window on the screen: title bar, two lines of text and a progress bar.
    const int wx0 = gx0 + 10, wy0 = gy0 + 10, wx1 = gx1 - 10, wy1 = gy1 - 9;
    c.Fill(wx0 + 1, wy0 + 1, wx1 + 1, wy1 + 1, BLACK);          // drop shadow
    c.Bevel(wx0, wy0, wx1, wy1, SILVER, WHITE, GRAY, CLEAR);
    c.Fill(wx0 + 1, wy0 + 1, wx1 - 1, wy0 + 4, NAVY);
    c.HLine(wx0 + 3, wx0 + 12, wy0 + 2, WHITE);
    c.Fill(wx1 - 4, wy0 + 2, wx1 - 2, wy0 + 3, SILVER);
    for (int x = wx0 + 4; x <= wx1 - 8; x += 1)
        if ((x * 7 + 3) % 5 != 0)
            c.Put(x, wy0 + 7, BLACK);
    for (int x = wx0 + 4; x <= wx0 + 22; x += 1)
        if ((x * 5 + 1) % 4 != 0)
            c.Put(x, wy0 + 9, BLACK);
    c.Well(wx0 + 3, wy1 - 5, wx1 - 3, wy1 - 2, SILVER);
    for (int x = wx0 + 5, n = 0; n < 6 && x + 1 <= wx1 - 4; x += 3, n++)
        c.Fill(x, wy1 - 4, x + 1, wy1 - 3, NAVY);
    // Glare on the curved glass: a soft streak near the top left corner.
    for (int i = 0; i < 7; i++) {
        c.Put(gx0 + 2 + i, gy0 + 8 - i, i % 2 ? AQUA : BLUE);
        if (i > 1 && i < 6)
            c.Put(gx0 + 3 + i, gy0 + 8 - i, BLUE);
    }
    // Chin: badge, buttons and the power light.
    const int cy = y1 - 7;
    c.Fill(x0 + 8, cy, x0 + 20, cy + 2, GRAY);
    c.HLine(x0 + 9, x0 + 19, cy + 1, SILVER);
    for (int i = 0; i < 3; i++) {
        int bx = x1 - 24 + i * 6;
        c.Fill(bx, cy, bx + 3, cy + 2, GRAY);
        c.HLine(bx, bx + 3, cy, WHITE);
        c.VLine(bx + 3, cy, cy + 2, BLACK);
        c.HLine(bx, bx + 3, cy + 2, BLACK);
    }
    c.Fill(x1 - 6, cy, x1 - 5, cy + 1, LIME);
    c.Put(x1 - 5, cy + 1, GREEN);
    // Vent slots on the casing's shoulder.
    for (int i = 0; i < 5; i++)
        c.HLine(x0 + 30 + i * 4, x0 + 31 + i * 4, y1 - 4, GRAY);
}

static void Stand(Canvas &c, int cx, int y0)
{
    c.Fill(cx - 10, y0, cx + 10, y0 + 1, GRAY);
    c.HLine(cx - 10, cx + 10, y0, BLACK);
    c.Bevel(cx - 16, y0 + 2, cx + 16, y0 + 4, SILVER, WHITE, GRAY, BLACK);
}

static void SystemUnit(Canvas &c, int x0, int y0)
{
    const int x1 = x0 + 93, y1 = y0 + 24;
    c.Bevel(x0, y0, x1, y1, SILVER, WHITE, GRAY, BLACK);
    c.HLine(x0 + 1, x1 - 1, y0 + 1, WHITE);
    c.VLine(x1 - 1, y0 + 2, y1 - 1, GRAY);
    // Front panel seam.
    c.HLine(x0 + 2, x1 - 2, y1 - 3, GRAY);
    c.HLine(x0 + 2, x1 - 2, y1 - 2, WHITE);
    // 5.25-inch drive: a wide slot with its door lever.
    c.Well(x0 + 5, y0 + 4, x0 + 40, y0 + 10, SILVER);
    c.HLine(x0 + 8, x0 + 37, y0 + 7, BLACK);
    c.Fill(x0 + 20, y0 + 6, x0 + 25, y0 + 8, GRAY);
    c.HLine(x0 + 20, x0 + 25, y0 + 6, WHITE);
    // 3.5-inch drive: narrow slot, eject button, busy light.
    c.Well(x0 + 5, y0 + 13, x0 + 40, y0 + 18, SILVER);
    c.HLine(x0 + 12, x0 + 31, y0 + 15, BLACK);
    c.HLine(x0 + 12, x0 + 31, y0 + 16, GRAY);
    c.Fill(x0 + 34, y0 + 16, x0 + 37, y0 + 17, GRAY);
    c.HLine(x0 + 34, x0 + 37, y0 + 16, WHITE);
    c.Fill(x0 + 8, y0 + 16, x0 + 9, y0 + 16, YELLOW);
    // CD-ROM drive: tray with a round button.
    c.Well(x0 + 46, y0 + 4, x0 + 84, y0 + 10, SILVER);
    c.HLine(x0 + 48, x0 + 82, y0 + 7, GRAY);
    c.Fill(x0 + 77, y0 + 8, x0 + 80, y0 + 9, GRAY);
    c.Put(x0 + 49, y0 + 9, LIME);
    // Power switch and lights.
    c.Bevel(x0 + 74, y0 + 13, x0 + 82, y0 + 18, SILVER, WHITE, BLACK, CLEAR);
    c.Fill(x0 + 66, y0 + 14, x0 + 67, y0 + 15, LIME);
    c.Put(x0 + 67, y0 + 15, GREEN);
    c.Fill(x0 + 61, y0 + 14, x0 + 62, y0 + 15, YELLOW);
    c.Put(x0 + 62, y0 + 15, OLIVE);
    // Maker's badge.
    c.Fill(x0 + 47, y0 + 14, x0 + 56, y0 + 16, NAVY);
    c.HLine(x0 + 48, x0 + 55, y0 + 15, WHITE);
}

// A 3.5-inch diskette, 26 x 27, shell colour given.
static void Diskette(Canvas &c, int x0, int y0, int shell, int highlight, int labelInk)
{
    const int x1 = x0 + 25, y1 = y0 + 26;
    const int behindCorner = c.Get(x1, y0);
    c.Fill(x0, y0, x1, y1, shell);
    c.HLine(x0, x1 - 1, y0, highlight);
    c.VLine(x0, y0, y1 - 1, highlight);
    c.HLine(x0, x1, y1, BLACK);
    c.VLine(x1, y0, y1, BLACK);
    c.Put(x1, y0, behindCorner); c.Put(x1 - 1, y0, BLACK); c.Put(x1, y0 + 1, BLACK);  // cut corner
    // Metal shutter with its window.
    c.Fill(x0 + 7, y0, x0 + 19, y0 + 9, SILVER);
    c.VLine(x0 + 7, y0, y0 + 9, WHITE);
    c.VLine(x0 + 19, y0, y0 + 9, GRAY);
    c.HLine(x0 + 7, x0 + 19, y0 + 9, GRAY);
    c.Fill(x0 + 14, y0 + 2, x0 + 16, y0 + 7, BLACK);
    c.VLine(x0 + 14, y0 + 2, y0 + 7, GRAY);
    // Label with a few handwritten lines.
    c.Fill(x0 + 4, y0 + 13, x0 + 21, y1 - 1, WHITE);
    c.HLine(x0 + 4, x0 + 21, y0 + 13, SILVER);
    c.HLine(x0 + 6, x0 + 16, y0 + 16, labelInk);
    c.HLine(x0 + 6, x0 + 13, y0 + 19, labelInk);
    c.HLine(x0 + 6, x0 + 18, y0 + 22, SILVER);
    c.Put(x0 + 17, y0 + 16, labelInk);
    // Write-protect window.
    c.Fill(x0 + 1, y1 - 3, x0 + 2, y1 - 2, BLACK);
}

// A compact disc of radius r centred on (cx, cy): silver with a rainbow sheen and a clear hole.
static void CompactDisc(Canvas &c, int cx, int cy, int r)
{
    for (int y = -r - 1; y <= r + 1; y++)
        for (int x = -r - 1; x <= r + 1; x++) {
            int d2 = x * x + y * y;
            int outer = r * r + r;
            if (d2 > outer + 2 * r + 1)
                continue;
            int px = cx + x, py = cy + y;
            if (d2 > outer) {
                // Rim outline: light at the top left, dark at the bottom right.
                c.Put(px, py, x + y < 0 ? GRAY : BLACK);
                continue;
            }
            int colour = SILVER;
            if (d2 <= 2 * 2 + 2)
                continue;                               // the hole shows what lies behind
            else if (d2 <= 4 * 4 + 4)
                colour = GRAY;                          // clamping ring
            else if (d2 <= 6 * 6 + 6)
                colour = x + y < 0 ? WHITE : SILVER;    // clear hub
            else {
                // Sheen: colour bands along the diagonal that catches the light.
                int diag = x - y;   // bands run from the top right to the bottom left
                int along = x + y;
                if (std::abs(along) <= 2 && diag > 0)
                    colour = ((x + y) & 1) ? WHITE : AQUA;
                else if (std::abs(along) <= 2 && diag < 0)
                    colour = ((x + y) & 1) ? WHITE : FUCHSIA;
                else if (along >= 3 && along <= 4 && diag > 0)
                    colour = YELLOW;
                else if (along <= -3 && along >= -4 && diag < 0)
                    colour = AQUA;
                else if (d2 > (r - 1) * (r - 1) && x + y > 0)
                    colour = GRAY;                      // edge in shade
                else if (d2 > (r - 1) * (r - 1))
                    colour = WHITE;                     // edge catching the light
            }
            c.Put(px, py, colour);
        }
    c.Put(cx - 1, cy - 2, GRAY);  // a notch of shade inside the hole's top left rim
}

// A jewel case seen from the front: clear plastic over the insert with a disc behind it.
static void JewelCase(Canvas &c, int x0, int y0)
{
    const int x1 = x0 + 33, y1 = y0 + 29;
    c.Fill(x0, y0, x1, y1, SILVER);
    c.HLine(x0, x1, y0, WHITE);
    c.VLine(x0, y0, y1, WHITE);
    c.HLine(x0, x1, y1, GRAY);
    c.VLine(x1, y0, y1, GRAY);
    c.HLine(x0 + 1, x1 + 1, y1 + 1, BLACK);
    c.VLine(x1 + 1, y0 + 1, y1 + 1, BLACK);
    // Hinge spine on the left.
    c.VLine(x0 + 3, y0 + 1, y1 - 1, GRAY);
    c.VLine(x0 + 2, y0 + 1, y1 - 1, WHITE);
    // Insert: the course's cover, a maroon field with a title and two speech bubbles.
    c.Fill(x0 + 5, y0 + 2, x1 - 2, y1 - 2, MAROON);
    c.Fill(x0 + 7, y0 + 4, x0 + 22, y0 + 5, YELLOW);
    c.HLine(x0 + 7, x0 + 16, y0 + 7, SILVER);
    static const char *const bubbles[] = {
        ".kkkkkkkkk.......",
        "kwwwwwwwwwk......",
        "kwbbbbwbbwk......",
        "kwwwwwwwwwk......",
        ".kkkkwkkkk.......",
        ".....kwk..kkkkkk.",
        ".....kk..kyyyyyyk",
        ".....k..kyrrryrryk",
        "........kyyyyyyyk",
        ".........kkkyykk.",
        "...........kyk...",
        "...........kk....",
        nullptr,
    };
    c.Pattern(x0 + 9, y0 + 11, bubbles);
    // Light on the clear lid.
    c.Line(x1 - 8, y0 + 3, x1 - 3, y0 + 8, WHITE);
    c.Line(x1 - 6, y0 + 2, x1 - 3, y0 + 5, SILVER);
}

static Canvas DrawPicture()
{
    Canvas c(106, 187, TEAL);
    Monitor(c, 12, 3);
    Stand(c, 52, 75);
    SystemUnit(c, 5, 81);
    // Keyboard: a slim bevelled slab with rows of keys.
    {
        const int x0 = 9, y0 = 111, x1 = 95, y1 = 123;
        c.Bevel(x0, y0, x1, y1, SILVER, WHITE, GRAY, BLACK);
        // Keys: a white top edge over a grey shadow, staggered row by row.
        for (int row = 0; row < 3; row++)
            for (int x = x0 + 3 + row * 2; x + 2 <= x1 - 18; x += 4) {
                c.HLine(x, x + 2, y0 + 2 + row * 3, WHITE);
                c.HLine(x, x + 2, y0 + 3 + row * 3, GRAY);
            }
        c.HLine(x0 + 24, x0 + 52, y0 + 9, WHITE);    // space bar
        c.HLine(x0 + 24, x0 + 52, y0 + 10, GRAY);
        for (int row = 0; row < 3; row++)             // number pad
            for (int x = x1 - 14; x + 2 <= x1 - 3; x += 4) {
                c.HLine(x, x + 2, y0 + 2 + row * 3, WHITE);
                c.HLine(x, x + 2, y0 + 3 + row * 3, GRAY);
            }
    }
    // Media in front: a stack of diskettes, a disc and its case.
    JewelCase(c, 62, 132);
    Diskette(c, 4, 139, NAVY, BLUE, BLUE);
    Diskette(c, 13, 150, BLACK, GRAY, RED);
    Diskette(c, 22, 158, MAROON, RED, NAVY);
    CompactDisc(c, 72, 168, 16);
    return c;
}

static Canvas DrawCheck()
{
    static const char *const rows[] = {
        "..........",
        "........k.",
        ".......kk.",
        "......kkk.",
        ".k...kkk..",
        ".kk.kkk...",
        ".kkkkk....",
        "..kkk.....",
        "...k......",
        "..........",
        nullptr,
    };
    Canvas c(10, 10, SILVER);
    c.Pattern(0, 0, rows);
    return c;
}

// The program icon: a small computer with a diskette leaving it.
static Canvas DrawIcon32()
{
    Canvas c(32, 32, CLEAR);
    // Monitor.
    c.Bevel(2, 2, 23, 19, SILVER, WHITE, GRAY, BLACK);
    c.Fill(4, 4, 21, 15, BLACK);
    c.Fill(5, 5, 20, 14, NAVY);
    c.Dither(5, 10, 20, 14, NAVY, BLUE);
    c.HLine(6, 9, 6, AQUA);
    c.Put(6, 7, AQUA);
    c.Fill(8, 8, 17, 12, SILVER);
    c.HLine(8, 17, 8, WHITE);
    c.HLine(9, 16, 8, NAVY);
    c.HLine(9, 14, 10, GRAY);
    c.Fill(19, 17, 20, 17, LIME);
    // Stand and base.
    c.Fill(9, 21, 16, 21, GRAY);
    c.Bevel(5, 22, 20, 24, SILVER, WHITE, GRAY, BLACK);
    // Diskette sliding out to the right, with a red arrow.
    const int dx = 17, dy = 15;
    c.Fill(dx, dy, dx + 13, dy + 14, NAVY);
    c.HLine(dx, dx + 12, dy, BLUE);
    c.VLine(dx, dy, dy + 13, BLUE);
    c.HLine(dx, dx + 13, dy + 14, BLACK);
    c.VLine(dx + 13, dy, dy + 14, BLACK);
    c.Fill(dx + 4, dy, dx + 10, dy + 4, SILVER);
    c.VLine(dx + 10, dy, dy + 4, GRAY);
    c.Fill(dx + 7, dy + 1, dx + 8, dy + 3, NAVY);
    c.Fill(dx + 3, dy + 7, dx + 11, dy + 13, WHITE);
    c.HLine(dx + 4, dx + 9, dy + 9, RED);
    c.HLine(dx + 4, dx + 7, dy + 11, BLUE);
    // Red arrow pointing away, up and right, with a dark shadow.
    static const char *const arrow[] = {
        "....kkkkkk",
        "....krrrrk",
        ".....krrrk",
        "....krrrrk",
        "...krrrkrk",
        "..krrrk.kk",
        ".krrrk....",
        "krrrk.....",
        "krrk......",
        ".kk.......",
        nullptr,
    };
    c.Pattern(21, 0, arrow);
    return c;
}

// The 16 x 16 icon: the same idea with fewer pixels.
static Canvas DrawIcon16()
{
    Canvas c(16, 16, CLEAR);
    c.Bevel(0, 1, 11, 10, SILVER, WHITE, GRAY, BLACK);
    c.Fill(2, 3, 9, 7, NAVY);
    c.HLine(2, 4, 3, AQUA);
    c.Fill(3, 12, 9, 12, GRAY);
    c.HLine(2, 10, 13, BLACK);
    const int dx = 8, dy = 7;
    c.Fill(dx, dy, dx + 6, dy + 7, NAVY);
    c.HLine(dx, dx + 6, dy + 7, BLACK);
    c.VLine(dx + 6, dy, dy + 7, BLACK);
    c.Fill(dx + 2, dy, dx + 4, dy + 2, SILVER);
    c.Fill(dx + 1, dy + 4, dx + 5, dy + 6, WHITE);
    static const char *const arrow[] = {
        "..kkkkk",
        "..krrrk",
        "...krrk",
        "..krrrk",
        ".krrkrk",
        "krrk.kk",
        "krk....",
        ".k.....",
        nullptr,
    };
    c.Pattern(9, 0, arrow);
    return c;
}

int main(int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : ".";
    SaveBmp(dir + "/picture.bmp", DrawPicture());
    SaveBmp(dir + "/check.bmp", DrawCheck());
    Canvas big = DrawIcon32(), small = DrawIcon16();
    SaveIco(dir + "/remover.ico", {&big, &small});
    return 0;
}
