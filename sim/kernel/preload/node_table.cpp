// Reading the node table of a simulated kernel.
#include "node_table.h"

#include <algorithm>
#include <charconv>

namespace simdrive {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool failAt(std::size_t line, const std::string& problem, std::string& error) {
    error = "line " + std::to_string(line) + ": " + problem;
    return false;
}

// "[max_hw_sectors_kb=<KiB>]" in front of a node's description: the limit is
// taken and the rest of the text left in `described`. "" or the problem.
std::string takeNodeOptions(std::string_view& described, uint32_t& queueLimit) {
    if (described.empty() || described.front() != '[') return "";
    const std::size_t close = described.find(']');
    if (close == std::string_view::npos) return "has no ']' after its options";
    const std::string_view option = trimmed(described.substr(1, close - 1));
    described = trimmed(described.substr(close + 1));
    constexpr std::string_view kLimit = "max_hw_sectors_kb=";
    constexpr uint32_t kMaxKib = 0xFFFFFFFFu / 1024;
    uint32_t kib = 0;
    const char* last = option.data() + option.size();
    const bool named = option.substr(0, kLimit.size()) == kLimit;
    const auto parsed = named ? std::from_chars(option.data() + kLimit.size(), last, kib) : std::from_chars_result{};
    if (!named || parsed.ec != std::errc() || parsed.ptr != last || kib == 0 || kib > kMaxKib)
        return "option '" + std::string(option) + "' is not max_hw_sectors_kb=<KiB>";
    queueLimit = kib * 1024;
    return "";
}

}  // namespace

bool parseNodeTable(std::string_view text, std::vector<NodeEntry>& nodes, std::string& error) {
    std::vector<NodeEntry> parsed;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == '#') continue;

        const std::size_t split = line.find_first_of(kBlanks);
        const std::string_view path = line.substr(0, split);
        std::string_view described =
            split == std::string_view::npos ? std::string_view() : trimmed(line.substr(split));
        if (path.front() != '/')
            return failAt(number, "node path '" + std::string(path) + "' is not absolute", error);
        NodeEntry entry{std::string(path), {}, {}};
        if (const std::string problem = takeNodeOptions(described, entry.queueLimit); !problem.empty())
            return failAt(number, "node '" + entry.path + "' " + problem, error);
        if (described.empty())
            return failAt(number, "node '" + std::string(path) + "' has no drive description", error);

        constexpr std::string_view kSameAs = "same-as ";
        if (described.substr(0, kSameAs.size()) == kSameAs) {
            entry.sameAs = std::string(trimmed(described.substr(kSameAs.size())));
            const auto original = std::find_if(parsed.begin(), parsed.end(), [&](const NodeEntry& earlier) {
                return earlier.sameAs.empty() && earlier.path == entry.sameAs;
            });
            if (original == parsed.end())
                return failAt(number, "node '" + entry.path + "': '" + entry.sameAs + "' is no earlier drive node",
                              error);
            entry.description = original->description;
        } else {
            constexpr std::string_view kUsb = "usb=";
            if (described.substr(0, kUsb.size()) == kUsb) {
                const std::size_t semicolon = described.find(';');
                const std::string_view name = trimmed(described.substr(kUsb.size(), semicolon - kUsb.size()));
                entry.usbBridge = parseUsbBridge(name);
                if (!entry.usbBridge)
                    return failAt(number, "node '" + entry.path + "': unknown USB bridge '" + std::string(name) + "'",
                                  error);
                described =
                    semicolon == std::string_view::npos ? std::string_view() : trimmed(described.substr(semicolon + 1));
            }
            DescriptionError problem;
            if (!parseDriveDescriptionText(described, entry.description, problem))
                return failAt(number, "node '" + entry.path + "': " + problem.message(), error);
        }
        const std::vector<std::string> wanted = nodePaths(entry);
        for (const NodeEntry& earlier : parsed) {
            for (const std::string& taken : nodePaths(earlier)) {
                if (std::find(wanted.begin(), wanted.end(), taken) != wanted.end())
                    return failAt(number, "node '" + taken + "' is given twice", error);
            }
            // A second node of a drive shares its serial; two drives of their own may not.
            if (entry.sameAs.empty() && earlier.sameAs.empty() && earlier.description.kind == entry.description.kind &&
                earlier.description.serial == entry.description.serial)
                return failAt(number, "serial '" + entry.description.serial + "' is already used by node '" +
                                          earlier.path + "'", error);
        }
        parsed.push_back(std::move(entry));
    }
    nodes = std::move(parsed);
    return true;
}

std::vector<std::string> nodePaths(const NodeEntry& node) {
    std::vector<std::string> paths{node.path};
    if (node.sameAs.empty() && node.description.kind == DriveKind::Nvme) {
        for (uint32_t ns = 1; ns <= node.description.namespaces; ++ns)
            paths.push_back(node.path + "n" + std::to_string(ns));
    }
    return paths;
}

}  // namespace simdrive
