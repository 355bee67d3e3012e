// jpeg_vs_ppm: how far a JPEG's pixels are from a binary PPM (P6, 8 bits).
//
//   jpeg_vs_ppm picture.jpg reference.ppm
//
// Prints one line: "<jpeg w>x<h> <ppm w>x<h> mean=<m> p99=<p> max=<x>", the
// absolute differences of every colour value (0..255), when both have the
// same size; exits 1 when a file cannot be read, 2 when the sizes differ.

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool ReadJpeg(const char* path, int& w, int& h, std::vector<unsigned char>& rgb)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    w = static_cast<int>(cinfo.output_width);
    h = static_cast<int>(cinfo.output_height);
    rgb.resize(static_cast<size_t>(w) * h * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(cinfo.output_scanline) * w * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

bool ReadPpm(const char* path, int& w, int& h, std::vector<unsigned char>& rgb)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255 || w <= 0 || h <= 0)
        return false;
    in.get();  // the one white space after the header
    rgb.resize(static_cast<size_t>(w) * h * 3);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size())));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s picture.jpg reference.ppm\n", argv[0]);
        return 1;
    }
    int jw = 0, jh = 0, pw = 0, ph = 0;
    std::vector<unsigned char> jpeg, ppm;
    if (!ReadJpeg(argv[1], jw, jh, jpeg) || !ReadPpm(argv[2], pw, ph, ppm)) {
        std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    std::printf("%dx%d %dx%d", jw, jh, pw, ph);
    if (jw != pw || jh != ph) {
        std::printf("\n");
        return 2;
    }
    std::vector<long> histogram(256, 0);
    double sum = 0;
    for (size_t i = 0; i < jpeg.size(); ++i) {
        const int d = jpeg[i] > ppm[i] ? jpeg[i] - ppm[i] : ppm[i] - jpeg[i];
        ++histogram[d];
        sum += d;
    }
    const long p99Count = static_cast<long>(jpeg.size() * 0.99);
    long seen = 0;
    int p99 = 0, maxDiff = 0;
    for (int d = 0; d < 256; ++d) {
        if (histogram[d] == 0)
            continue;
        maxDiff = d;
        if (seen < p99Count)
            p99 = d;
        seen += histogram[d];
    }
    std::printf(" mean=%.3f p99=%d max=%d\n", sum / jpeg.size(), p99, maxDiff);
    return 0;
}
