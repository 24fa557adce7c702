// Block-diagram pictures for the function view, drawn from a small script
// with rectangles, lines, arrows, circles and a built-in 5 x 7 pixel font,
// and stored as 8-bit palette BMP files.
#include <cstdlib>
#include <map>
#include <sstream>

#include "SampleData.h"
#include "SourceText.h"

namespace databuild {

namespace {

constexpr int kWidth = 800, kHeight = 600;

struct PaletteEntry {
    const char* name;
    uint8_t r, g, b;
};
const PaletteEntry kPalette[] = {
    {"white", 255, 255, 255}, {"black", 0, 0, 0},       {"navy", 24, 48, 120},
    {"sky", 214, 230, 250},   {"grey", 150, 150, 150},  {"red", 200, 30, 30},
    {"green", 20, 140, 60},   {"yellow", 255, 246, 200},
};

// Rows of each glyph, bit 4 = leftmost pixel.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kFont[] = {
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},
    {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {31, 2, 4, 2, 1, 17, 14}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},
    {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}},
    {'C', {14, 17, 16, 16, 16, 17, 14}}, {'D', {28, 18, 17, 17, 17, 18, 28}},
    {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}},
    {'I', {14, 4, 4, 4, 4, 4, 14}},      {'J', {7, 2, 2, 2, 2, 18, 12}},
    {'K', {17, 18, 20, 24, 20, 18, 17}}, {'L', {16, 16, 16, 16, 16, 16, 31}},
    {'M', {17, 27, 21, 21, 17, 17, 17}}, {'N', {17, 17, 25, 21, 19, 17, 17}},
    {'O', {14, 17, 17, 17, 17, 17, 14}}, {'P', {30, 17, 17, 30, 16, 16, 16}},
    {'Q', {14, 17, 17, 17, 21, 18, 13}}, {'R', {30, 17, 17, 30, 20, 18, 17}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 17, 10, 4}},
    {'W', {17, 17, 17, 21, 21, 21, 10}}, {'X', {17, 17, 10, 4, 10, 17, 17}},
    {'Y', {17, 17, 17, 10, 4, 4, 4}},    {'Z', {31, 1, 2, 4, 8, 16, 31}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},        {'+', {0, 4, 4, 31, 4, 4, 0}},
    {'-', {0, 0, 0, 31, 0, 0, 0}},       {'.', {0, 0, 0, 0, 0, 12, 12}},
    {'/', {0, 1, 2, 4, 8, 16, 0}},       {'(', {2, 4, 8, 8, 8, 4, 2}},
    {')', {8, 4, 2, 2, 2, 4, 8}},        {':', {0, 12, 12, 0, 12, 12, 0}},
    {'%', {24, 25, 2, 4, 8, 19, 3}},     {'=', {0, 0, 31, 0, 31, 0, 0}},
    {'>', {8, 4, 2, 1, 2, 4, 8}},        {'<', {2, 4, 8, 16, 8, 4, 2}},
    {'_', {0, 0, 0, 0, 0, 0, 31}},       {',', {0, 0, 0, 0, 12, 4, 8}},
};

const Glyph* FindGlyph(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

void Plot(Canvas& cv, int x, int y, uint8_t colour) {
    if (x >= 0 && y >= 0 && x < cv.width && y < cv.height)
        cv.pixels[static_cast<size_t>(y) * cv.width + x] = colour;
}

void Line(Canvas& cv, int x0, int y0, int x1, int y1, uint8_t colour) {
    int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        Plot(cv, x0, y0, colour);
        if (x0 == x1 && y0 == y1) break;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void Box(Canvas& cv, int x, int y, int w, int h, uint8_t colour) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) Plot(cv, i, j, colour);
}

void Rect(Canvas& cv, int x, int y, int w, int h, uint8_t colour) {
    // Two pixels wide so the outline survives the view's stretching.
    for (int t = 0; t < 2; ++t) {
        Line(cv, x + t, y + t, x + w - 1 - t, y + t, colour);
        Line(cv, x + t, y + h - 1 - t, x + w - 1 - t, y + h - 1 - t, colour);
        Line(cv, x + t, y + t, x + t, y + h - 1 - t, colour);
        Line(cv, x + w - 1 - t, y + t, x + w - 1 - t, y + h - 1 - t, colour);
    }
}

void Circle(Canvas& cv, int cx, int cy, int r, uint8_t colour) {
    for (int rr = r - 1; rr <= r; ++rr) {
        int x = rr, y = 0, err = 1 - rr;
        while (x >= y) {
            const int pts[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y},
                                   {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
            for (const auto& p : pts) Plot(cv, cx + p[0], cy + p[1], colour);
            ++y;
            if (err < 0) err += 2 * y + 1;
            else {
                --x;
                err += 2 * (y - x) + 1;
            }
        }
    }
}

void Arrow(Canvas& cv, int x0, int y0, int x1, int y1, uint8_t colour) {
    Line(cv, x0, y0, x1, y1, colour);
    Line(cv, x0 + (y0 == y1 ? 0 : 1), y0 + (y0 == y1 ? 1 : 0), x1 + (y0 == y1 ? 0 : 1),
         y1 + (y0 == y1 ? 1 : 0), colour);
    int dx = x1 > x0 ? 1 : x1 < x0 ? -1 : 0, dy = y1 > y0 ? 1 : y1 < y0 ? -1 : 0;
    for (int k = 0; k < 8; ++k) {
        // Head: a filled triangle pointing along the line.
        int bx = x1 - dx * k, by = y1 - dy * k;
        for (int s = -k / 2 - 1; s <= k / 2 + 1; ++s) Plot(cv, bx + dy * s, by + dx * s, colour);
    }
}

void Text(Canvas& cv, int x, int y, int scale, const std::string& text, uint8_t colour) {
    int cx = x;
    for (char c : text) {
        const Glyph* g = FindGlyph(c);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[row] & (16 >> col)) Box(cv, cx + col * scale, y + row * scale, scale, scale, colour);
        cx += 6 * scale;
    }
}

}  // namespace

bool RenderDiagram(std::string_view script, const std::string& name, Canvas& cv,
                   std::string& error) {
    cv.width = kWidth;
    cv.height = kHeight;
    cv.pixels.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    std::map<std::string, uint8_t> colours;
    for (size_t k = 0; k < sizeof kPalette / sizeof kPalette[0]; ++k)
        colours[kPalette[k].name] = static_cast<uint8_t>(k);

    std::istringstream in{std::string(script)};
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::string where = Where(name, lineNo);
        // A quoted text, if any, is the last operand.
        std::string quoted;
        bool hasText = false;
        size_t q = line.find('"');
        if (q != std::string::npos) {
            size_t q2 = line.rfind('"');
            if (q2 == q || line.find_first_not_of(" \t", q2 + 1) != std::string::npos) {
                error = where + "text must be one quoted operand at the end";
                return false;
            }
            quoted = line.substr(q + 1, q2 - q - 1);
            hasText = true;
            line = line.substr(0, q);
        }
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;) w.push_back(s);
        if (w.empty()) {
            error = where + "command missing";
            return false;
        }
        const std::string& cmd = w[0];
        struct Shape {
            const char* name;
            size_t numbers;
            bool text;
        };
        static const Shape shapes[] = {{"fill", 0, false},   {"rect", 4, false},
                                       {"box", 4, false},    {"line", 4, false},
                                       {"arrow", 4, false},  {"circle", 3, false},
                                       {"text", 3, true}};
        const Shape* shape = nullptr;
        for (const auto& s : shapes)
            if (cmd == s.name) shape = &s;
        if (!shape) {
            error = where + "unknown command " + cmd;
            return false;
        }
        if (w.size() != shape->numbers + 2 || hasText != shape->text) {
            error = where + cmd + " takes " + std::to_string(shape->numbers) + " numbers and a colour" +
                    (shape->text ? " and a quoted text" : "");
            return false;
        }
        int n[4] = {};
        for (size_t k = 0; k < shape->numbers; ++k) {
            long long v;
            if (!ParseInt(w[1 + k], v) || v < -10000 || v > 10000) {
                error = where + "bad number " + w[1 + k];
                return false;
            }
            n[k] = static_cast<int>(v);
        }
        auto colour = colours.find(w.back());
        if (colour == colours.end()) {
            error = where + "unknown colour " + w.back();
            return false;
        }
        uint8_t c = colour->second;
        if (cmd == "fill") Box(cv, 0, 0, kWidth, kHeight, c);
        else if (cmd == "rect") Rect(cv, n[0], n[1], n[2], n[3], c);
        else if (cmd == "box") Box(cv, n[0], n[1], n[2], n[3], c);
        else if (cmd == "line") Line(cv, n[0], n[1], n[2], n[3], c);
        else if (cmd == "circle") Circle(cv, n[0], n[1], n[2], c);
        else if (cmd == "arrow") {
            if (n[0] != n[2] && n[1] != n[3]) {
                error = where + "arrows run horizontally or vertically";
                return false;
            }
            Arrow(cv, n[0], n[1], n[2], n[3], c);
        } else {
            if (n[2] < 1 || n[2] > 8) {
                error = where + "text scale must be 1 to 8";
                return false;
            }
            for (char ch : quoted)
                if (!FindGlyph(ch)) {
                    error = where + "the font has no glyph for '" + std::string(1, ch) + "'";
                    return false;
                }
            Text(cv, n[0], n[1], n[2], quoted, c);
        }
    }
    return true;
}

std::string EncodeBmp(const Canvas& cv) {
    const uint32_t rowBytes = (static_cast<uint32_t>(cv.width) + 3) & ~3u;
    const uint32_t paletteBytes = 256 * 4;
    const uint32_t offset = 14 + 40 + paletteBytes;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(cv.height);
    std::string out;
    out.reserve(offset + imageBytes);
    auto u16 = [&](uint32_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    out += "BM";
    u32(offset + imageBytes);
    u32(0);
    u32(offset);
    u32(40);                      // BITMAPINFOHEADER
    u32(static_cast<uint32_t>(cv.width));
    u32(static_cast<uint32_t>(cv.height));  // positive: bottom-up rows
    u16(1);
    u16(8);
    u32(0);                       // no compression
    u32(imageBytes);
    u32(2835);                    // 72 dpi
    u32(2835);
    u32(256);
    u32(0);
    for (int k = 0; k < 256; ++k) {
        size_t n = sizeof kPalette / sizeof kPalette[0];
        const PaletteEntry& p = k < static_cast<int>(n) ? kPalette[k] : kPalette[0];
        out.push_back(static_cast<char>(p.b));
        out.push_back(static_cast<char>(p.g));
        out.push_back(static_cast<char>(p.r));
        out.push_back(0);
    }
    for (int y = cv.height - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(&cv.pixels[static_cast<size_t>(y) * cv.width]),
                   static_cast<size_t>(cv.width));
        out.append(rowBytes - static_cast<uint32_t>(cv.width), '\0');
    }
    return out;
}

}  // namespace databuild
