#include "postprocess/set_fixtures.h"

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

void PunchZeros(const std::string& path, size_t offset, size_t length) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file << std::string(length, '\0');
}

}  // namespace qs::test
