// simfw-make: writes firmware images that simulated drives accept, and shows
// the header of an existing image.
//
//   simfw-make --prefix VT --revision VT02 [--size N | --payload FILE]
//              [--seed N] [--align N] [--corrupt] OUTPUT
//   simfw-make --show IMAGE
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "simdrive/firmware_image.h"

namespace {

constexpr const char* kUsage =
    "usage: simfw-make --prefix MODEL_PREFIX --revision REV [--size BYTES | --payload FILE]\n"
    "                  [--seed N] [--align BYTES] [--corrupt] OUTPUT\n"
    "       simfw-make --show IMAGE\n";

std::optional<unsigned long> parseNumber(const char* text) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return std::nullopt;
    return value;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int show(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes)) {
        std::cerr << "simfw-make: cannot read '" << path << "'\n";
        return 1;
    }
    simdrive::ImageHeader header;
    simdrive::ImageProblem problem = simdrive::parseImageHeader(bytes, header);
    if (problem != simdrive::ImageProblem::None) {
        std::cerr << "simfw-make: '" << path << "': " << simdrive::describeImageProblem(problem) << "\n";
        return 1;
    }
    // Checked against its own prefix and the widest revision, only the length
    // and the payload CRC can fail.
    problem = simdrive::verifyImage(bytes, header.modelPrefix, simdrive::kImageRevisionSize).problem;
    bool crcOk = problem == simdrive::ImageProblem::None;
    bool whole = problem != simdrive::ImageProblem::Truncated;
    std::cout << "model prefix: " << header.modelPrefix << "\n"
              << "revision:     " << header.revision << "\n"
              << "payload:      " << header.payloadLength << " bytes\n"
              << "file:         " << bytes.size() << " bytes\n"
              << "crc:          " << (crcOk ? "ok" : whole ? "MISMATCH" : "TRUNCATED") << "\n";
    return crcOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    simdrive::ImageRecipe recipe;
    std::string payloadPath, output;
    unsigned long size = 65536, seed = 1;
    bool corrupt = false, sizeGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--show" && hasValue) return show(argv[i + 1]);
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--corrupt") {
            corrupt = true;
        } else if (arg.rfind("--", 0) == 0 && hasValue) {
            const char* value = argv[++i];
            std::optional<unsigned long> number = parseNumber(value);
            if (arg == "--prefix") {
                recipe.modelPrefix = value;
            } else if (arg == "--revision") {
                recipe.revision = value;
            } else if (arg == "--payload") {
                payloadPath = value;
            } else if (arg == "--size" && number) {
                size = *number;
                sizeGiven = true;
            } else if (arg == "--seed" && number) {
                seed = *number;
            } else if (arg == "--align" && number) {
                recipe.alignment = *number;
            } else {
                std::cerr << "simfw-make: bad option " << arg << " " << value << "\n" << kUsage;
                return 2;
            }
        } else if (arg.rfind("--", 0) != 0 && output.empty()) {
            output = arg;
        } else {
            std::cerr << "simfw-make: unexpected argument '" << arg << "'\n" << kUsage;
            return 2;
        }
    }
    if (output.empty() || (sizeGiven && !payloadPath.empty())) {
        std::cerr << kUsage;
        return 2;
    }
    if (!payloadPath.empty()) {
        if (!readFile(payloadPath, recipe.payload)) {
            std::cerr << "simfw-make: cannot read '" << payloadPath << "'\n";
            return 1;
        }
    } else {
        recipe.payload = simdrive::patternPayload(size, static_cast<uint32_t>(seed));
    }
    std::string error;
    std::vector<uint8_t> image = simdrive::buildImage(recipe, error);
    if (image.empty()) {
        std::cerr << "simfw-make: " << error << "\n";
        return 1;
    }
    // A damaged payload byte: the header still reads, the CRC no longer matches.
    if (corrupt && !recipe.payload.empty()) image[simdrive::kImageHeaderSize] ^= 0xFF;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::cerr << "simfw-make: cannot write '" << output << "'\n";
        return 1;
    }
    std::cout << "wrote " << output << ": " << image.size() << " bytes, prefix " << recipe.modelPrefix
              << ", revision " << recipe.revision << (corrupt ? ", corrupt payload" : "") << "\n";
    return 0;
}
