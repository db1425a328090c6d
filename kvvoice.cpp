// kvvoice: prepares voice files for the unit and describes sound files,
// from the command line, for those who prepare many prompts at once.
//
//   kvvoice convert IN OUT [--encoding alaw|ulaw|u8] [--raw] [--loudness LUFS]
//   kvvoice info FILE
//
// convert runs the window's own chain (decode, mono, telephone band, 8000 Hz,
// loudness, limiter, dither, encode), so that OUT holds the same bytes the
// window would upload; a file already in the asked format is copied byte
// for byte. info prints the format, rate, channels, duration, integrated
// loudness and peak of any sound file.
//
// Exit status: 0 done; 1 the input file (missing, not sound, cut short,
// damaged); 2 the command line; 3 the output file could not be written.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "audio/Voice.h"

using namespace kv::audio;

namespace {

enum TExit { kDone = 0, kInput = 1, kUsage = 2, kOutput = 3 };

const char* const kUsageText =
    "Использование:\n"
    "  kvvoice convert ВХОД ВЫХОД [--encoding alaw|ulaw|u8] [--raw] [--loudness LUFS]\n"
    "  kvvoice info ФАЙЛ\n"
    "\n"
    "  convert   готовит голосовой файл для устройства: 8000 Гц, моно, 8 бит\n"
    "            (8000 байт в секунду). ВХОД - WAV, FLAC, Ogg Vorbis, Opus или MP3;\n"
    "            звук сводится в моно, ограничивается полосой 300-3400 Гц,\n"
    "            приводится к одной громкости, ограничивается по пикам.\n"
    "            Файл, уже записанный в нужном формате, копируется без изменений.\n"
    "    --encoding  alaw (по умолчанию), ulaw или u8 (8 бит без знака)\n"
    "    --raw       без заголовка WAV\n"
    "    --loudness  громкость, LUFS, от -40 до -6 (по умолчанию -19)\n"
    "  info      формат, частота, каналы, длительность, громкость и пик файла\n"
    "Коды выхода: 0 - сделано; 1 - входной файл; 2 - командная строка;\n"
    "3 - выходной файл.\n";

void say(const std::string& text)
{
    std::fprintf(stderr, "kvvoice: %s\n", text.c_str());
}

// Why a file could not be read or written, in words.
std::string systemReason(int error)
{
    switch (error) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет прав доступа";
    case EISDIR:
        return "это папка";
    case ENOSPC:
        return "нет места на диске";
    case EROFS:
        return "файловая система только для чтения";
    default:
        return std::strerror(error);
    }
}

std::string fileName(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

// A number with a decimal comma, as the window shows it.
std::string number(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

std::string channelsText(int channels)
{
    return std::to_string(channels);
}

struct TConvert {
    std::string in, out;
    TUnitFormat format;
    double loudness = kDefaultLoudnessLufs;
};

bool parseConvert(const std::vector<std::string>& args, TConvert& c, std::string& error)
{
    std::vector<std::string> files;
    bool encodingSeen = false, loudnessSeen = false, rawSeen = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--encoding" && !encodingSeen) {
            encodingSeen = true;
            const std::string v = i + 1 < args.size() ? args[++i] : "";
            if (v == "alaw")
                c.format.encoding = TEncoding::ALaw;
            else if (v == "ulaw")
                c.format.encoding = TEncoding::ULaw;
            else if (v == "u8")
                c.format.encoding = TEncoding::U8;
            else {
                error = "--encoding: ожидается alaw, ulaw или u8, а не \"" + v + "\"";
                return false;
            }
        } else if (a == "--raw" && !rawSeen) {
            rawSeen = true;
            c.format.raw = true;
        } else if (a == "--loudness" && !loudnessSeen) {
            loudnessSeen = true;
            const std::string v = i + 1 < args.size() ? args[++i] : "";
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || errno != 0 || !(value >= -40.0 && value <= -6.0)) {
                error = "--loudness: ожидается число LUFS от -40 до -6, а не \"" + v + "\"";
                return false;
            }
            c.loudness = value;
        } else if (a.size() > 1 && a[0] == '-' && files.size() < 2) {
            error = "неизвестный параметр \"" + a + "\"";
            return false;
        } else if (files.size() < 2) {
            files.push_back(a);
        } else {
            error = "лишний аргумент \"" + a + "\"";
            return false;
        }
    }
    if (files.size() < 2) {
        error = "не хватает аргументов: нужны ВХОД и ВЫХОД";
        return false;
    }
    c.in = files[0];
    c.out = files[1];
    if (c.in.empty() || c.out.empty()) {
        error = "пустое имя файла";
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

// Writes beside OUT and renames, so that OUT is either whole or untouched.
bool writeAll(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    const std::string temporary = path + ".kvvoice-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out)
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out || !out.flush()) {
            error = systemReason(errno);
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemReason(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int convert(const TConvert& c)
{
    std::vector<uint8_t> bytes;
    std::string what;
    if (UnitFormatOfFile(c.in) == c.format) {
        auto original = readAll(c.in);
        if (!original) {
            say("Файл «" + fileName(c.in) + "» не удалось прочитать: " + systemReason(errno));
            return kInput;
        }
        bytes = std::move(*original);
        what = "уже в формате " + FormatName(c.format) + ", скопирован без изменений";
    } else {
        auto decoded = DecodeForUnit(c.in, {c.loudness});
        if (!decoded.ok()) {
            say(decoded.error);
            return kInput;
        }
        const auto& [info, prepared] = *decoded.value;
        bytes = EncodeForUnit(prepared, c.format);
        if (bytes.empty()) {
            say("Файл «" + fileName(c.out) + "» не удалось записать: ошибка кодирования");
            return kOutput;
        }
        what = info.format + ", " + std::to_string(info.rate) + " Гц, " + channelsText(info.channels) +
               " кан. -> " + FormatName(c.format) + ", " + number(prepared.Seconds(), 2) + " с, " +
               number(IntegratedLoudness(prepared), 1) + " LUFS";
    }
    std::string error;
    if (!writeAll(c.out, bytes, error)) {
        say("Файл «" + fileName(c.out) + "» не удалось записать: " + error);
        return kOutput;
    }
    std::printf("%s -> %s: %s\n", c.in.c_str(), c.out.c_str(), what.c_str());
    return kDone;
}

int info(const std::string& path)
{
    auto decoded = Decode(path);
    if (!decoded.ok()) {
        say(decoded.error);
        return kInput;
    }
    const auto& [source, sound] = *decoded.value;
    const double peak = PeakDbfs(sound);
    const auto unit = UnitFormatOfFile(path);
    std::printf("Файл: %s\n", path.c_str());
    std::printf("Формат: %s\n", source.format.c_str());
    std::printf("Частота: %d Гц\n", source.rate);
    std::printf("Каналы: %d\n", source.channels);
    std::printf("Длительность: %s с\n", number(source.seconds, 3).c_str());
    std::printf("Громкость: %s LUFS\n", number(IntegratedLoudness(sound), 1).c_str());
    std::printf("Пик: %s\n", std::isfinite(peak) ? (number(peak, 1) + " dBFS").c_str() : "тишина");
    std::printf("Формат устройства: %s\n", unit ? ("да, " + FormatName(*unit)).c_str() : "нет");
    return kDone;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    std::string error;
    if (args.empty()) {
        error = "не хватает аргументов";
    } else if (args[0] == "convert") {
        TConvert c;
        if (parseConvert({args.begin() + 1, args.end()}, c, error))
            return convert(c);
    } else if (args[0] == "info") {
        if (args.size() == 2 && !args[1].empty())
            return info(args[1]);
        error = args.size() < 2 ? "не хватает аргументов: нужен ФАЙЛ" : "лишний аргумент \"" + args.back() + "\"";
    } else {
        error = "неизвестная команда \"" + args[0] + "\"";
    }
    say(error);
    std::fputs(kUsageText, stderr);
    return kUsage;
}
