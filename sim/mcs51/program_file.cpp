#include "sim/mcs51/program_file.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace pulsara::sim {

namespace {

int HexNibble(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

ProgramFile Fail(const std::string& name, int line, const std::string& what) {
    ProgramFile f;
    f.error = name + ":" + std::to_string(line) + ": " + what;
    return f;
}

} // namespace

ProgramFile ParseIntelHex(const std::string& text, const std::string& name) {
    ProgramFile img;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool ended = false;
    while (std::getline(in, line)) {
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        if (ended)
            return Fail(name, lineNo, "data after the end-of-file record");
        if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0)
            return Fail(name, lineNo, "not an Intel HEX record");
        std::vector<std::uint8_t> rec;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const int hi = HexNibble(line[i]), lo = HexNibble(line[i + 1]);
            if (hi < 0 || lo < 0)
                return Fail(name, lineNo, "bad hex digit");
            rec.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        const std::size_t count = rec[0];
        if (rec.size() != count + 5)
            return Fail(name, lineNo, "record length does not match");
        std::uint8_t sum = 0;
        for (auto b : rec)
            sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0)
            return Fail(name, lineNo, "checksum error");
        const unsigned addr = (rec[1] << 8) | rec[2];
        const std::uint8_t type = rec[3];
        if (type == 0x01) {
            ended = true;
            continue;
        }
        if (type != 0x00)
            return Fail(name, lineNo, "unsupported record type " + std::to_string(type));
        if (addr + count > 0x10000)
            return Fail(name, lineNo, "record runs past address 0xFFFF");
        if (img.bytes.size() < addr + count) {
            img.bytes.resize(addr + count, 0);
            img.written.resize(addr + count, false);
        }
        for (std::size_t i = 0; i < count; ++i) {
            img.bytes[addr + i] = rec[4 + i];
            img.written[addr + i] = true;
        }
    }
    img.ok = true;
    return img;
}

ProgramFile LoadProgramFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        ProgramFile img;
        img.error = path.string() + ": cannot open the file; check the path";
        return img;
    }
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto ext = path.extension().string();
    if (ext == ".ihx" || ext == ".hex")
        return ParseIntelHex(data, path.string());
    ProgramFile img;
    if (data.size() > 0x10000) {
        img.error = path.string() + ": larger than the 64 KiB code space";
        return img;
    }
    img.bytes.assign(data.begin(), data.end());
    img.written.assign(data.size(), true);
    img.ok = true;
    return img;
}

} // namespace pulsara::sim
