// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/jpeg_factory.h"

#include "jpeg/turbo.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace testing_support {

using jpeg::ByteOrder;

Bytes MakeJpeg(int w, int h, Subsampling subsampling, int quality) {
    std::vector<unsigned char> rgb(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &rgb[(std::size_t(y) * w + x) * 3];
            // A bright top-left quadrant marks the orientation; gradients give real data.
            const bool corner = x < w / 2 && y < h / 3;
            p[0] = corner ? 250 : std::uint8_t(x * 255 / std::max(1, w - 1));
            p[1] = corner ? 240 : std::uint8_t(y * 255 / std::max(1, h - 1));
            p[2] = std::uint8_t(((x / 7) ^ (y / 5)) & 0xFF);
        }
    jpeg::TjHandle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), rgb.data(), w, 0, h, TJPF_RGB, &out, &size,
                    subsampling == Subsampling::S420 ? TJSAMP_420 : TJSAMP_444, quality, 0) != 0)
        throw std::runtime_error("tjCompress2 failed");
    jpeg::TjBuffer owned(out);
    return Bytes(out, out + size);
}

Bytes U16(std::uint16_t v, ByteOrder order) {
    Bytes b(2);
    jpeg::Store16(b.data(), v, order);
    return b;
}

Bytes U32(std::uint32_t v, ByteOrder order) {
    Bytes b(4);
    jpeg::Store32(b.data(), v, order);
    return b;
}

Bytes Rational(std::uint32_t n, std::uint32_t d, ByteOrder order) {
    Bytes b = U32(n, order);
    const Bytes den = U32(d, order);
    b.insert(b.end(), den.begin(), den.end());
    return b;
}

Bytes Ascii(const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

namespace {

// Lays out one directory at `offset` (entries, then next pointer, then its long values).
class TiffWriter {
public:
    explicit TiffWriter(ByteOrder order) : m_order(order) {}
    Bytes& bytes() { return m_bytes; }

    // Returns the positions of each entry's value field.
    std::vector<std::size_t> directory(std::size_t offset, const std::vector<ExifEntry>& entries,
                                       std::uint32_t next) {
        ensure(offset + 2 + 12 * entries.size() + 4);
        put16(offset, std::uint16_t(entries.size()));
        std::size_t data = offset + 2 + 12 * entries.size() + 4;
        std::vector<std::size_t> fields;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ExifEntry& e = entries[i];
            const std::size_t at = offset + 2 + 12 * i;
            put16(at, e.tag);
            put16(at + 2, e.type);
            put32(at + 4, e.count);
            fields.push_back(at + 8);
            if (e.value.size() <= 4) {
                std::copy(e.value.begin(), e.value.end(), m_bytes.begin() + std::ptrdiff_t(at + 8));
            } else {
                put32(at + 8, std::uint32_t(data));
                ensure(data + e.value.size());
                std::copy(e.value.begin(), e.value.end(), m_bytes.begin() + std::ptrdiff_t(data));
                data += e.value.size() + (e.value.size() & 1);
            }
        }
        put32(offset + 2 + 12 * entries.size(), next);
        m_end = std::max(m_end, data);
        return fields;
    }
    std::size_t end() const { return m_end; }
    void put16(std::size_t at, std::uint16_t v) {
        ensure(at + 2);
        jpeg::Store16(&m_bytes[at], v, m_order);
    }
    void put32(std::size_t at, std::uint32_t v) {
        ensure(at + 4);
        jpeg::Store32(&m_bytes[at], v, m_order);
    }
    void ensure(std::size_t n) {
        if (m_bytes.size() < n) m_bytes.resize(n);
    }

private:
    ByteOrder m_order;
    Bytes m_bytes;
    std::size_t m_end = 0;
};

ExifEntry ShortEntry(std::uint16_t tag, std::uint16_t v, ByteOrder order) {
    Bytes value = U16(v, order);
    value.resize(4);
    return {tag, 3, 1, value};
}

} // namespace

Bytes MakeTiff(const ExifSpec& spec) {
    const ByteOrder o = spec.order;
    TiffWriter w(o);
    w.ensure(8);
    w.bytes()[0] = w.bytes()[1] = o == ByteOrder::Little ? 'I' : 'M';
    w.put16(2, 42);
    w.put32(4, 8);

    std::vector<ExifEntry> ifd0;
    if (spec.orientation) ifd0.push_back(ShortEntry(0x0112, std::uint16_t(spec.orientation), o));
    ifd0.insert(ifd0.end(), spec.ifd0.begin(), spec.ifd0.end());
    std::vector<ExifEntry> exif = spec.exif;
    if (spec.exifOrientation)
        exif.push_back(ShortEntry(0x0112, std::uint16_t(spec.exifOrientation), o));
    if (spec.pixelWidth) exif.push_back({0xA002, 4, 1, U32(std::uint32_t(spec.pixelWidth), o)});
    if (spec.pixelHeight) exif.push_back({0xA003, 4, 1, U32(std::uint32_t(spec.pixelHeight), o)});
    const bool hasExif = !exif.empty();
    if (hasExif) ifd0.push_back({0x8769, 4, 1, U32(0, o)}); // patched below

    const bool hasIfd1 = !spec.thumbnail.empty() || spec.ifd1Orientation;
    auto fields0 = w.directory(8, ifd0, 0);
    std::size_t next = (w.end() + 1) & ~std::size_t(1);
    if (hasExif) {
        w.put32(fields0.back(), std::uint32_t(next));
        w.directory(next, exif, 0);
        next = (w.end() + 1) & ~std::size_t(1);
    }
    if (hasIfd1) {
        w.put32(8 + 2 + 12 * ifd0.size(), std::uint32_t(next));
        std::vector<ExifEntry> ifd1;
        if (spec.ifd1Orientation)
            ifd1.push_back(ShortEntry(0x0112, std::uint16_t(spec.ifd1Orientation), o));
        if (!spec.thumbnail.empty()) {
            ifd1.push_back({0x0201, 4, 1, U32(0, o)});
            ifd1.push_back({0x0202, 4, 1, U32(std::uint32_t(spec.thumbnail.size()), o)});
        }
        auto fields1 = w.directory(next, ifd1, 0);
        if (!spec.thumbnail.empty()) {
            const std::size_t at = w.end();
            w.put32(fields1[fields1.size() - 2], std::uint32_t(at));
            w.ensure(at + spec.thumbnail.size());
            std::copy(spec.thumbnail.begin(), spec.thumbnail.end(),
                      w.bytes().begin() + std::ptrdiff_t(at));
        }
    }
    return w.bytes();
}

Bytes MakeApp1(const Bytes& tiff) {
    const std::size_t length = tiff.size() + 8;
    Bytes seg{
        0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF), 'E', 'x', 'i', 'f',
        0,    0};
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    return seg;
}

Bytes InsertAfterSoi(const Bytes& jpeg, const Bytes& segment) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes MakeJpegWithExif(int w, int h, const ExifSpec& spec, Subsampling subsampling) {
    return InsertAfterSoi(MakeJpeg(w, h, subsampling), MakeApp1(MakeTiff(spec)));
}

Bytes MakeXmpApp1(const std::string& packet) {
    static const std::string kHeader("http://ns.adobe.com/xap/1.0/\0", 29);
    const std::size_t length = 2 + kHeader.size() + packet.size();
    Bytes seg{0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF)};
    seg.insert(seg.end(), kHeader.begin(), kHeader.end());
    seg.insert(seg.end(), packet.begin(), packet.end());
    return seg;
}

std::string XmpPacketWithOrientation(int orientation, bool elementForm) {
    const std::string value = std::to_string(orientation);
    const std::string description =
        elementForm
            ? "<rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\">\n"
              "   <tiff:Orientation>" +
                  value +
                  "</tiff:Orientation>\n"
                  "   <tiff:Make>Tester</tiff:Make>\n  </rdf:Description>"
            : "<rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"\n"
              "    tiff:Make=\"Tester\"\n    tiff:Orientation=\"" +
                  value + "\"/>";
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n  " +
           description + "\n </rdf:RDF>\n</x:xmpmeta>\n" + std::string(200, ' ') +
           "\n<?xpacket end=\"w\"?>";
}

std::string ContainerDirectoryPacket(const std::vector<std::uint64_t>& lengths, bool elementForm) {
    std::string items = "     <rdf:li rdf:parseType=\"Resource\">\n      <Container:Item "
                        "Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/>\n     </rdf:li>\n";
    for (const std::uint64_t length : lengths) {
        const std::string value = std::to_string(length);
        items += "     <rdf:li rdf:parseType=\"Resource\">\n";
        items += elementForm ? "      <Container:Item rdf:parseType=\"Resource\">\n"
                               "       <Item:Semantic>GainMap</Item:Semantic>\n"
                               "       <Item:Mime>image/jpeg</Item:Mime>\n"
                               "       <Item:Length>" +
                                   value + "</Item:Length>\n      </Container:Item>\n"
                             : "      <Container:Item Item:Semantic=\"GainMap\" "
                               "Item:Mime=\"image/jpeg\" Item:Length=\"" +
                                   value + "\"/>\n";
        items += "     </rdf:li>\n";
    }
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\"\n"
           "    xmlns:Container=\"http://ns.google.com/photos/1.0/container/\"\n"
           "    xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\"\n"
           "    xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\">\n"
           "   <Container:Directory>\n    <rdf:Seq>\n" +
           items +
           "    </rdf:Seq>\n   </Container:Directory>\n  </rdf:Description>\n </rdf:RDF>\n"
           "</x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

Bytes InsertAfterAppSegments(const Bytes& jpeg, const Bytes& segment) {
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF &&
           (jpeg[pos + 1] == 0xE0 || jpeg[pos + 1] == 0xE1))
        pos += 2 + (std::size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
    Bytes out(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(pos));
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(pos), jpeg.end());
    return out;
}

Bytes MakeMpfFile(const Bytes& first, const std::vector<MpfImage>& others, ByteOrder order,
                  const Bytes& trailer) {
    const std::uint32_t count = std::uint32_t(others.size() + 1);
    // TIFF header, an IFD of three entries, then the MP entries.
    TiffWriter w(order);
    w.ensure(8);
    w.bytes()[0] = w.bytes()[1] = order == ByteOrder::Little ? 'I' : 'M';
    w.put16(2, 42);
    w.put32(4, 8);
    constexpr std::size_t kEntriesAt = 8 + 2 + 3 * 12 + 4;
    w.directory(8,
                {{0xB000, 7, 4, Bytes{'0', '1', '0', '0'}},
                 {0xB001, 4, 1, U32(count, order)},
                 {0xB002, 7, 16 * count, U32(std::uint32_t(kEntriesAt), order)}},
                0);
    w.ensure(kEntriesAt + 16 * count);
    const std::size_t length = 2 + 4 + w.bytes().size();
    Bytes app2{0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF), 'M', 'P',
               'F',  0};
    app2.insert(app2.end(), w.bytes().begin(), w.bytes().end());

    Bytes file = InsertAfterAppSegments(first, app2);
    // Find where the index landed: its TIFF header is the origin of every offset.
    std::size_t app2At = 2;
    while (!(file[app2At] == 0xFF && file[app2At + 1] == 0xE2))
        app2At += 2 + (std::size_t(file[app2At + 2]) << 8 | file[app2At + 3]);
    const std::size_t origin = app2At + 8;
    auto putEntry = [&](std::uint32_t i, std::uint32_t attribute, std::size_t size,
                        std::size_t offset) {
        std::uint8_t* e = file.data() + origin + kEntriesAt + 16 * i;
        jpeg::Store32(e, attribute, order);
        jpeg::Store32(e + 4, std::uint32_t(size), order);
        jpeg::Store32(e + 8, std::uint32_t(offset), order);
    };
    putEntry(0, 0x20030000, file.size(), 0);
    for (std::uint32_t i = 0; i < others.size(); ++i) {
        putEntry(i + 1, others[i].attribute, others[i].jpeg.size(), file.size() - origin);
        file.insert(file.end(), others[i].jpeg.begin(), others[i].jpeg.end());
    }
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes DecodeRgb(const Bytes& jpeg, int& w, int& h) {
    jpeg::TjHandle handle = jpeg::MakeDecompressor();
    int subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w,
                            &h, &subsamp, &colorspace) != 0)
        return {};
    Bytes rgb(std::size_t(w) * h * 3);
    if (tjDecompress2(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                      rgb.data(), w, 0, h, TJPF_RGB, 0) != 0)
        return {};
    return rgb;
}

std::string RunCommand(const std::string& command, int* status) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    if (!pipe) return out;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe.get()))
        out.append(buf.data(), n);
    const int rc = ::pclose(pipe.release());
    if (status) *status = rc;
    return out;
}

} // namespace testing_support
