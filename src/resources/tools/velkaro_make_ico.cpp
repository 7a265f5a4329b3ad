// Build-time tool: packs PNG images into one Windows icon file (.ico).
//
//   velkaro_make_ico OUT.ico IN1.png [IN2.png ...]
//
// Each PNG is stored unchanged as one icon entry (PNG-compressed entries are part of
// the ICO format since Windows Vista and Qt's ico reader accepts them). Written by hand
// because no package of our build list converts to ICO, and the container is only a
// 6-byte header plus a 16-byte directory entry per image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t ico_header_size = 6;
constexpr std::size_t ico_entry_size = 16;
constexpr std::uint16_t ico_type_icon = 1;
// The directory stores width and height in one byte each; 0 means 256.
constexpr std::uint32_t ico_max_side = 256;

struct png_image_t {
    std::vector<unsigned char> bytes;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

std::uint32_t read_be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void put_le16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xff));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xff));
}

void put_le32(std::vector<unsigned char>& out, std::uint32_t v) {
    put_le16(out, v & 0xffff);
    put_le16(out, v >> 16);
}

// Reads a PNG and its size from the IHDR chunk, which the format requires to come first.
bool load_png(const char* path, png_image_t& img) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "velkaro_make_ico: cannot read %s\n", path);
        return false;
    }
    img.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // signature (8), IHDR length (4), "IHDR" (4), width (4), height (4)
    const std::size_t ihdr_end = 8 + 4 + 4 + 4 + 4;
    if (img.bytes.size() < ihdr_end ||
        !std::equal(std::begin(png_signature), std::end(png_signature), img.bytes.begin()) ||
        std::string(img.bytes.begin() + 12, img.bytes.begin() + 16) != "IHDR") {
        std::fprintf(stderr, "velkaro_make_ico: %s is not a PNG image\n", path);
        return false;
    }
    img.width = read_be32(&img.bytes[16]);
    img.height = read_be32(&img.bytes[20]);
    if (img.width == 0 || img.height == 0 || img.width > ico_max_side || img.height > ico_max_side) {
        std::fprintf(stderr, "velkaro_make_ico: %s must be 1 to 256 pixels on each side\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: velkaro_make_ico OUT.ico IN.png...\n");
        return 2;
    }
    std::vector<png_image_t> images(static_cast<std::size_t>(argc - 2));
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!load_png(argv[i + 2], images[i])) return 1;
    }

    std::vector<unsigned char> out;
    put_le16(out, 0);  // reserved
    put_le16(out, ico_type_icon);
    put_le16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(ico_header_size + ico_entry_size * images.size());
    for (const png_image_t& img : images) {
        out.push_back(static_cast<unsigned char>(img.width == ico_max_side ? 0 : img.width));
        out.push_back(static_cast<unsigned char>(img.height == ico_max_side ? 0 : img.height));
        out.push_back(0);      // no palette
        out.push_back(0);      // reserved
        put_le16(out, 1);      // colour planes
        put_le16(out, 32);     // bits per pixel
        put_le32(out, static_cast<std::uint32_t>(img.bytes.size()));
        put_le32(out, offset);
        offset += static_cast<std::uint32_t>(img.bytes.size());
    }
    for (const png_image_t& img : images) out.insert(out.end(), img.bytes.begin(), img.bytes.end());

    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file) {
        std::fprintf(stderr, "velkaro_make_ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
