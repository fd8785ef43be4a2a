// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed corpora of the fuzz targets: make_seeds OUTDIR
#include "session/photo_turn.h"
#include "session/undo.h"
#include "support/jpeg_factory.h"
#include "thumbs/master_image.h"

#include <QDirIterator>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/kept_copy.h"

using namespace testing_support;
using jpeg::ByteOrder;

namespace {

void Put(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(dir);
    WriteFile((dir / name).string(), bytes);
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Small photos in the samplings and codings TurboJPEG writes; empty on failure.
Bytes Compress(int w, int h, int subsampling, int pixelFormat, int flags) {
    const int channels = tjPixelSize[pixelFormat];
    Bytes pixels(std::size_t(w) * h * channels);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint8_t((i * 37) ^ (i / 91));
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    Bytes jpeg;
    if (tjCompress2(handle, pixels.data(), w, 0, h, pixelFormat, &out, &size, subsampling, 80,
                    flags) == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

Bytes WithOp(std::uint8_t op, const Bytes& jpeg) {
    Bytes bytes{op};
    bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
    return bytes;
}

// A copy as a turn of a hard-linked photo keeps it: the turned photo, then the record.
void PutKeptCopy(const std::filesystem::path& out) {
    const Bytes old = MakeJpeg(64, 48), turned = MakeJpeg(48, 64);
    Bytes copy = turned;
    const Bytes record =
        platform::kept::Encode(platform::kept::MakeRecord(1, 2, "a.jpg", old, turned));
    copy.insert(copy.end(), record.begin(), record.end());
    Put(out / "kept_record", "copy.jpg", copy);
}

// A record as a turn keeps it, made in a folder of its own (the desktop's thumbnails included).
void PutUndoRecord(const std::filesystem::path& out) {
    QTemporaryDir dir;
    if (!dir.isValid()) return;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path() + "/cache"));
    const QString photo = dir.path() + "/a.jpg";
    WriteFile(photo.toStdString(), MakeJpeg(32, 16));
    const session::UndoStore store(dir.path() + "/state/undo", "seed");
    {
        const auto command = store.Begin();
        if (!command) return;
        session::TurnOptions options;
        options.undo = command.get();
        session::TurnOne(photo, rotate::RotationCode::Right, options, {}, nullptr);
    }
    QDirIterator it(dir.path() + "/state/undo", {"*.undo"}, QDir::Files,
                    QDirIterator::Subdirectories);
    if (it.hasNext()) Put(out / "undo_record", "turn.undo", ReadFile(it.next().toStdString()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path out = argv[1];
    int n = 0;
    for (ByteOrder o : {ByteOrder::Little, ByteOrder::Big}) {
        for (int orientation : {0, 1, 6, 8}) {
            ExifSpec spec;
            spec.order = o;
            spec.orientation = orientation;
            spec.exifOrientation = orientation == 8 ? 8 : 0;
            spec.ifd0.push_back({0x0110, 2, 8, Ascii("DMC-FZ8")});
            spec.exif.push_back({0x829A, 5, 1, Rational(1, 250, o)});
            spec.exif.push_back({0x9201, 10, 1, Rational(8, 1, o)});
            if (orientation == 6) spec.thumbnail = MakeJpeg(16, 8, Subsampling::S420, 50);
            spec.pixelWidth = 16;
            spec.pixelHeight = 8;
            const Bytes tiff = MakeTiff(spec);
            const Bytes jpeg = MakeJpegWithExif(16, 8, spec);
            const std::string name = "seed" + std::to_string(n++);
            Put(out / "orientation", name, jpeg);
            Put(out / "exif", name, jpeg);
            Put(out / "exif", name + ".tiff", tiff);
            Bytes withOp{std::uint8_t(n)};
            withOp.insert(withOp.end(), jpeg.begin(), jpeg.end());
            Put(out / "thumbnail", name, withOp);
        }
    }
    for (const auto& [w, h] : {std::pair{64, 48}, std::pair{700, 20}}) {
        const auto master = thumbs::DecodeMaster(MakeJpeg(w, h));
        if (master)
            Put(out / "master_file", "master" + std::to_string(w),
                thumbs::EncodeMasterFile(*master, "fuzz-key"));
    }
    const int samplings[] = {TJSAMP_444, TJSAMP_422, TJSAMP_420,
                             TJSAMP_440, TJSAMP_411, TJSAMP_GRAY};
    int k = 0;
    for (int sampling : samplings) {
        for (int flags : {0, TJFLAG_PROGRESSIVE}) {
            const int format = sampling == TJSAMP_GRAY ? TJPF_GRAY : TJPF_RGB;
            const Bytes jpeg = Compress(19 + 8 * k % 40, 23 + 5 * k % 30, sampling, format, flags);
            if (!jpeg.empty())
                Put(out / "lossless_turn", "seed" + std::to_string(k),
                    WithOp(std::uint8_t(k), jpeg));
            ++k;
        }
    }
    Put(out / "lossless_turn", "ycck", WithOp(1, Compress(24, 17, TJSAMP_420, TJPF_CMYK, 0)));
    Put(out / "lossless_turn", "exif", WithOp(3, MakeJpegWithExif(40, 24, ExifSpec{})));
    // A frame that claims more pixels than the turn may take memory for: the refusal's way out.
    Bytes huge = Compress(16, 16, TJSAMP_420, TJPF_RGB, TJFLAG_PROGRESSIVE);
    for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC2)) {
            huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xF0; // 61680 x 61680
            break;
        }
    }
    Put(out / "lossless_turn", "too_large", WithOp(1, huge));

    for (ByteOrder o : {ByteOrder::Little, ByteOrder::Big}) {
        ExifSpec spec;
        spec.order = o;
        spec.orientation = 6;
        const Bytes first =
            InsertAfterSoi(MakeJpegWithExif(16, 8, spec),
                           MakeXmpApp1(XmpPacketWithOrientation(6, o == ByteOrder::Big)));
        const std::string name = o == ByteOrder::Big ? "mpf-mm" : "mpf-ii";
        Put(out / "multi_picture", name,
            MakeMpfFile(first, {{MakeJpeg(8, 8)}, {MakeJpeg(16, 8)}}, o, Bytes(64, 0x5A)));
    }
    Put(out / "ini", "lang.lng",
        Text("[Translations]\r\nFormTulvex.ActionOpen.Caption=\"View "
             "Image\"\r\n[Messages]\r\nfile(s)=Datei(en)\r\nEmpty=\r\n"));
    Put(out / "ini", "bom.lng", Text("\xEF\xBB\xBF[messages]\nTag='x'\n"));
    Put(out / "settings", "settings.reg",
        Text("Windows Registry Editor Version "
             "5.00\n\n[HKEY_CURRENT_USER\\Software\\Varlo\\Tulvex\\Main]\n"
             "\"Language\"=\"/x/"
             "Deutsch.lng\"\n\"WinWidth\"=dword:00000384\n\"WinMax\"=\"1\"\n\"Odd\"=hex:01,02\n"
             "\"Quoted\"=\"a \\\"b\\\" \\\\ c\"\n\n[Other]\n\"x\"=\"y\"\n"));
    PutUndoRecord(out);
    PutKeptCopy(out);
    return 0;
}
