#include "postprocess/set_fixtures.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <random>

#include "postprocess/child_process.h"

namespace qs::test {

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

bool RunTool(const std::string& dir, const std::vector<std::string>& argv, std::string* output) {
    ChildCommand command;
    command.program = argv.front();
    command.args.assign(argv.begin() + 1, argv.end());
    command.working_dir = dir;
    command.timeout = std::chrono::minutes(2);
    std::string text;
    command.on_line = [&](std::string_view line) {
        text += line;
        text += '\n';
    };
    const ChildResult result = RunChildProcess(command);
    if (output)
        *output = text + result.error;
    return result.Exited() && result.exit_code == 0;
}

namespace {

void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

}  // namespace

std::string StoredZip(const std::vector<ZipEntry>& entries) {
    constexpr unsigned kUtf8Names = 0x0800;
    std::string zip, directory;
    for (const ZipEntry& entry : entries) {
        const uint32_t crc =
            static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                        static_cast<uInt>(entry.data.size())));
        const uint32_t size = static_cast<uint32_t>(entry.data.size());
        const uint32_t mode = entry.symlink ? 0120777 : 0100644;
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        // Fields both headers share: version needed, flags, method (stored), time, date,
        // CRC, sizes, name length, extra length.
        std::string common;
        Put16(common, 10);
        Put16(common, kUtf8Names);
        Put16(common, 0);
        Put16(common, 0);
        Put16(common, 0x21);
        Put32(common, crc);
        Put32(common, size);
        Put32(common, size);
        Put16(common, static_cast<unsigned>(entry.name.size()));
        Put16(common, 0);

        Put32(zip, 0x04034b50);
        zip += common + entry.name + entry.data;

        Put32(directory, 0x02014b50);
        Put16(directory, (3 << 8) | 20);  // made on Unix: the mode below counts
        directory += common;
        Put16(directory, 0);  // comment length
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, mode << 16);
        Put32(directory, offset);
        directory += entry.name;
    }
    const uint32_t directory_offset = static_cast<uint32_t>(zip.size());
    zip += directory;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<unsigned>(entries.size()));
    Put16(zip, static_cast<unsigned>(entries.size()));
    Put32(zip, static_cast<uint32_t>(directory.size()));
    Put32(zip, directory_offset);
    Put16(zip, 0);
    return zip;
}

void PunchZeros(const std::string& path, size_t offset, size_t length) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file << std::string(length, '\0');
}

}  // namespace qs::test
